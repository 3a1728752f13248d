#pragma once
// The Changes panel of a session's page: what the session and its sub-agents changed, as the data
// the page's script builds the panel from (files, their edits with diffs, and the page section of
// each edit's exchange). The host sends data only.

#include <QJsonObject>

class TVLPageController;
class TVLSession;

namespace TVLChangesPanel {
QJsonObject pageData(TVLSession &session);
// Opens the panel on the page, which must be showing the session.
void show(TVLPageController &page, TVLSession &session);
} // namespace TVLChangesPanel
