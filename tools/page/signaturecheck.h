#pragma once

#include "pagecheck.h"

#include <QStringList>

#include <functional>

namespace common {
class Inet;
}

namespace pagetool {

// What `check --key` found: SHA256SUMS and its signature beside the page,
// verified as the updater verifies them, and with --resolve every listed
// file downloaded and its SHA-256 compared.
struct SignatureReport
{
    QStringList verified;  // what holds, one line each
    QStringList problems;  // what does not verify, one line each
};

// fetch reads a file or address beside the page (throws RunError). resolved
// is the report's direct addresses (empty without --resolve).
SignatureReport checkSignature(common::Inet &inet,
                               const std::function<QByteArray(const QString &)> &fetch,
                               const QString &pageWhere, const PageReport &report,
                               const QString &key);

QString signatureText(const SignatureReport &report);
QJsonObject signatureJson(const SignatureReport &report);

} // namespace pagetool
