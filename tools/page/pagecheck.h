#pragma once

#include "common/releasepage.h"

#include <QJsonObject>
#include <QList>
#include <QString>

#include <optional>

namespace pagetool {

// What one reader made of the page: its value, or why it failed.
struct Failure
{
    QString rule;
    QString message;
};

// The direct address of one share page, or why there is none.
struct Resolved
{
    QString share;
    std::optional<QString> direct;
    QString error;
};

// Everything the windows will read from one release page.
struct PageReport
{
    std::optional<QString> version;
    std::optional<Failure> versionError;
    std::optional<QString> changeLog;
    std::optional<Failure> changeLogError;
    std::optional<QList<common::FileEntry>> files;
    std::optional<Failure> filesError;
    std::optional<common::PushSection> push;
    QString pushText;
    std::optional<Failure> pushError;
    QList<Resolved> resolved;
    bool resolveAsked = false;

    bool allRead() const;
};

PageReport checkPage(const QString &page);

// The maker's report in plain Chinese, and its JSON form.
QString reportText(const PageReport &report, const QString &ownVersion);
QJsonObject reportJson(const PageReport &report);

Resolved resolveShare(const QString &share, const QString &sharePage);

} // namespace pagetool
