#pragma once
// The tvl:// addresses of tree nodes and exchanges: "tvl://" followed by the absolute path,
// percent-encoded so that "#", "?", "%" and spaces come back as they were, and, for an
// exchange, the query "exchange=<uuid>".

#include <QString>

namespace TVLURL {
QString urlStringForPath(const QString &path, const QString &exchangeUuid = {});
} // namespace TVLURL
