// A temporary device folder and a fresh virtual clock for core tests.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>

#include "common/scratch_device.h"

class CoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        scratch_.emplace("quillon-core");
        root_ = scratch_->root();
    }
    void TearDown() override { scratch_.reset(); }
    std::optional<qtest::ScratchDevice> scratch_;
    std::filesystem::path root_;
};
