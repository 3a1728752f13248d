#include "TVLSettings.h"

#include "Halvex/Foundation/HVXDefaults.h"
#include "TVLRoot.h"

namespace {
constexpr qint64 kDisplayModeStart = 1;
constexpr qint64 kVisibleLines = 16;


HVXDefaults &store()
{
    TVLSettings::registerDefaults();
    return HVXDefaults::standard();
}
} // namespace

void TVLSettings::registerDefaults()
{
    static const bool registered = [] {
        HVXDefaults::standard().registerDefaults({{sessionDisplayModeKey, kDisplayModeStart},
                                                  {relativeTimeKey, true},
                                                  {showToolStepsKey, false},
                                                  {visiblePatchLinesKey, kVisibleLines},
                                                  {visibleAttachmentLinesKey, kVisibleLines},
                                                  {rootSortModeKey, qint64(TVLRoot::SortByRecentUse)}});
        return true;
    }();
    Q_UNUSED(registered);
}

void TVLSettings::registerTagsDefault(const QString &encodedTags)
{
    HVXDefaults::standard().registerDefaults({{tagsKey, encodedTags}});
}

qint64 TVLSettings::sessionDisplayMode() { return store().integerForKey(sessionDisplayModeKey); }
void TVLSettings::setSessionDisplayMode(qint64 mode) { store().setInteger(sessionDisplayModeKey, mode); }
bool TVLSettings::usesRelativeTime() { return store().boolForKey(relativeTimeKey); }
void TVLSettings::setUsesRelativeTime(bool relative) { store().setBool(relativeTimeKey, relative); }
bool TVLSettings::showsToolSteps() { return store().boolForKey(showToolStepsKey); }
void TVLSettings::setShowsToolSteps(bool shown) { store().setBool(showToolStepsKey, shown); }
qint64 TVLSettings::visiblePatchLines() { return store().integerForKey(visiblePatchLinesKey); }
qint64 TVLSettings::visibleAttachmentLines() { return store().integerForKey(visibleAttachmentLinesKey); }
qint64 TVLSettings::rootSortMode() { return store().integerForKey(rootSortModeKey); }
void TVLSettings::setRootSortMode(qint64 mode) { store().setInteger(rootSortModeKey, mode); }
QString TVLSettings::encodedTags() { return HVXDefaults::standard().stringForKey(tagsKey); }
void TVLSettings::setEncodedTags(const QString &encodedTags) { HVXDefaults::standard().setValue(tagsKey, encodedTags); }
bool TVLSettings::enablesDeveloperHacks() { return HVXDefaults::standard().boolForKey(developerHacksKey); }
