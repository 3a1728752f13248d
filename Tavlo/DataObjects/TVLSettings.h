#pragma once
// The settings the model reads, typed. Each setting's key and default live here, and nothing else
// in the model reads the settings store by name; views that follow a setting observe its key
// (HVXDefaults::observe). The tags' default is the palette TVLTag builds in, registered by it.

#include <QString>

class TVLSettings final
{
public:
    static inline const QString sessionDisplayModeKey = QStringLiteral("TVLSessionDisplayMode");
    static inline const QString relativeTimeKey = QStringLiteral("TVLSessionUseRelativeTime");
    static inline const QString showToolStepsKey = QStringLiteral("TVLShowToolSteps");
    static inline const QString visiblePatchLinesKey = QStringLiteral("TVLDefaultVisiblePatchLines");
    static inline const QString visibleAttachmentLinesKey = QStringLiteral("TVLDefaultVisibleAttachementLines");
    static inline const QString rootSortModeKey = QStringLiteral("TVLRootSortMode");
    static inline const QString tagsKey = QStringLiteral("TVLTags");
    static inline const QString developerHacksKey = QStringLiteral("TVLEnableDeveloperHacks");

    // Registers every default but the tags' with the settings store, once.
    static void registerDefaults();
    static void registerTagsDefault(const QString &encodedTags);

    // What a session row shows as its title (TVLSession's display modes).
    static qint64 sessionDisplayMode();
    static void setSessionDisplayMode(qint64 mode);
    static bool usesRelativeTime();
    static void setUsesRelativeTime(bool relative);
    static bool showsToolSteps();
    static void setShowsToolSteps(bool shown);
    // Patches and attachments longer than these start folded (0: always folded).
    static qint64 visiblePatchLines();
    static qint64 visibleAttachmentLines();
    // How a log root orders its projects (TVLRoot's sort modes).
    static qint64 rootSortMode();
    static void setRootSortMode(qint64 mode);
    // The tag palette as TVLTag encodes it.
    static QString encodedTags();
    static void setEncodedTags(const QString &encodedTags);
    static bool enablesDeveloperHacks();
};
