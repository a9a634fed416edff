#pragma once
// The one QApplication of a test program that drives widgets. Linking this
// object makes it before the first test, whatever the order of the tests,
// and it lives until the program ends.

#include <QApplication>

namespace testing_support {

QApplication& application();

} // namespace testing_support
