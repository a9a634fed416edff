#include "support/qt/QtApplication.h"

#include <gtest/gtest.h>

namespace testing_support {

QApplication& application() {
    static int argc = 1;
    static char name[] = "velumo_test";
    static char* argv[] = {name, nullptr};
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}

namespace {

struct ApplicationEnvironment : ::testing::Environment {
    void SetUp() override { application(); }
};
const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new ApplicationEnvironment);

} // namespace

} // namespace testing_support
