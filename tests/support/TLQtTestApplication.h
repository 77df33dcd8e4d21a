#pragma once

#include <QApplication>

#include <gtest/gtest.h>

#include <memory>

// One QApplication for the whole test binary, on the offscreen platform unless the caller
// chose another one. Include it from exactly one source file per test binary.
class TLQtTestApplication : public ::testing::Environment {
public:
    void SetUp() override {
        if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) {
            qputenv("QT_QPA_PLATFORM", "offscreen");
        }
        app_ = std::make_unique<QApplication>(argc_, argv_);
        QApplication::setQuitOnLastWindowClosed(false);
    }
    void TearDown() override { app_.reset(); }

private:
    int argc_ = 1;
    char name_[8] = "tilora";
    char* argv_[2] = {name_, nullptr};
    std::unique_ptr<QApplication> app_;
};

inline ::testing::Environment* const tlQtTestApplication =
    ::testing::AddGlobalTestEnvironment(new TLQtTestApplication);
