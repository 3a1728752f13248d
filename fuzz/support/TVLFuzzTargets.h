#pragma once
// The readers of bytes Tavlo didn't write, each as one function of an input: the bodies of the
// fuzz targets, also run over the kept regression inputs by the normal test suite.

#include <QByteArrayView>
#include <QString>
#include <vector>

namespace TVLFuzzTargets {
struct Target
{
    const char *name;
    void (*run)(QByteArrayView input);
};

// transcript, metadata, json, markdown, url, index, snippet, markup, feed, instance, restoration.
const std::vector<Target> &all();
const Target *named(const QString &name);

// Once per process before the first input (a QGuiApplication exists): settings in a directory
// of their own.
void setUp();
} // namespace TVLFuzzTargets
