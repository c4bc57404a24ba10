#pragma once

#include <gtest/gtest.h>
#include <json/reader.h>

#include <fstream>
#include <string>

// A JSON file the test expects to parse; a parse error fails the test.
inline Json::Value ReadJsonFile(const std::string& path) {
    std::ifstream file(path);
    Json::Value root;
    Json::CharReaderBuilder builder;
    std::string problem;
    EXPECT_TRUE(Json::parseFromStream(builder, file, &root, &problem)) << path << ": " << problem;
    return root;
}
