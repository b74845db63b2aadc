// A test with a fresh folder below /tmp and the path of a configuration
// file in it (not created); the file and the folder go after the test.
#pragma once
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

class ConfigFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/gentrmx_config_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    folder_ = pattern;
    path_ = folder_ + "/quillnest.ini";
  }
  void TearDown() override {
    std::remove(path_.c_str());
    rmdir(folder_.c_str());
  }

  std::string folder_;
  std::string path_;
};
