// A temporary device folder and a fresh virtual clock for core tests.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <memory>

#include "platform/handset/core/clock.h"
#include "platform/handset/core/device.h"

class CoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/quillon-core-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        root_ = tmpl;
        handset::DeviceOptions options;
        options.folder = root_ / "device";
        device_ = std::make_unique<handset::Device>(options);
        handset::set_device(device_.get());
        handset::clock().configure(handset::ClockKind::Virtual);
    }
    void TearDown() override {
        handset::set_device(nullptr);
        std::error_code ec;
        std::filesystem::remove_all(root_, ec);
    }
    std::filesystem::path root_;
    std::unique_ptr<handset::Device> device_;
};
