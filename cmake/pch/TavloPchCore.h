// Headers nearly every source without widgets includes (the suites include all of Qt Core through
// QtTest), compiled once per build and shared by the libraries, the unit suites and the benchmarks'
// corpus generator.
#include <QtCore/QtCore>
#include <algorithm>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>
