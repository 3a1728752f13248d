// The headers of TavloPchCore.h and those nearly every window, widget and page source includes, compiled
// once per build and shared by the libraries with widgets, the programs, the window and page suites
// and the benchmarks.
#include "TavloPchCore.h"
#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QPalette>
#include <QVBoxLayout>
#include <QWebEnginePage>
#include <QWebEngineView>
#include <QWidget>
