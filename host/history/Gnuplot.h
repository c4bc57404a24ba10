#pragma once

#include <string>

// Runs gnuplot (Debian's gnuplot-nox) on a script that writes its image to
// standard output, into an image file.
class Gnuplot {
public:
    explicit Gnuplot(std::string program = "gnuplot");

    // The image appears whole or not at all: gnuplot writes it beside
    // `image_path`, and only a complete one is renamed into place. Throws
    // BenchError (plot) when gnuplot is missing, fails (its own messages in
    // the text) or writes nothing, or when the file cannot be written.
    void Draw(const std::string& script, const std::string& image_path) const;

private:
    std::string program_;
};
