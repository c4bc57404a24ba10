// Prints the driver's signal keys, one a line, in the order of its signal
// table: the keys a device's "thresholdSetting" and value queries use. The
// release package lists them beside the example settings from this output,
// so the list is the driver's own table and never a copy of it.
#include "QVT7702Signals.h"

#include <cstdio>

int main() {
    for (const QVT7702Signal& signal : kQVT7702Signals) {
        if (std::printf("%s\n", signal.key) < 0)
            return 1;
    }
    return std::fflush(stdout) == 0 ? 0 : 1;
}
