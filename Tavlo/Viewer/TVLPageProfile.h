#pragma once
// The web engine profile of every session page in the process: nothing kept on disk, the page
// scheme served by our handler, and every other request blocked.

class QWebEngineProfile;
class TVLPageSchemeHandler;
class TVLPageRequestBlocker;

namespace TVLPageProfile {
QWebEngineProfile *profile();
TVLPageSchemeHandler *schemeHandler();
TVLPageRequestBlocker *requestBlocker();
} // namespace TVLPageProfile
