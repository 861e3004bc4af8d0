#pragma once

// Builds release pages and share pages the way the maker's web editor writes
// them: one <p> per paragraph, headings in <strong>, colour spans, &nbsp; and
// &amp; entities, no line breaks between paragraphs.

#include <QString>
#include <QStringList>

namespace pagebuilder {

inline QString para(const QString &text)
{
    return QStringLiteral("<p>") + text + QStringLiteral("</p>");
}

inline QString strong(const QString &text)
{
    return QStringLiteral("<strong>") + text + QStringLiteral("</strong>");
}

inline QString red(const QString &text)
{
    return QStringLiteral("<span style=\"color: #ff0000;\">") + text + QStringLiteral("</span>");
}

inline QString black(const QString &text)
{
    return QStringLiteral("<span style=\"color: #000000;\">") + text + QStringLiteral("</span>");
}

// One file paragraph: ordinal, 、, name, then the share link in parentheses.
// shareHtml is the address as it stands in the markup (&amp; escaped).
inline QString fileEntry(int ordinal, const QString &name, const QString &shareHtml)
{
    return QStringLiteral("<p>%1、%2(<a href=\"%3\" target=\"_blank\">%3</a>)</p>")
        .arg(ordinal)
        .arg(name, shareHtml);
}

struct ReleasePage
{
    QString head = QStringLiteral("<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\">"
                                  "<title>Mosalune 发布页</title></head><body>"
                                  "<div class=\"entry-content\">");
    QString version = QStringLiteral("13.04.21");
    QStringList log{red(QStringLiteral("修复了&nbsp;GIF 图片无法载入的问题")),
                    QStringLiteral("切图速度提高一倍")};
    QStringList files{
        fileEntry(1, QStringLiteral("MSLUpdate.exe"),
                  QStringLiteral("https://share.example/s/upd?code=1&amp;lang=zh")),
        fileEntry(2, QStringLiteral("Mosalune.exe"),
                  QStringLiteral("https://share.example/s/main?code=2&amp;lang=zh"))};
    QString pushSwitch = QStringLiteral("开");
    QStringList push{black(QStringLiteral("欢迎使用&nbsp;Mosalune")),
                     red(QStringLiteral("新版已发布，请及时更新"))};
    QString tail = QStringLiteral("</div></body></html>");

    QString build() const
    {
        QString page = head + para(strong(QStringLiteral("Ver") + version))
                       + para(strong(QStringLiteral("更新日志")));
        for (const QString &line : log)
            page += para(line);
        page += para(strong(QStringLiteral("更新文件及地址：")));
        page += files.join(QString());
        page += para(strong(QStringLiteral("消息推送：") + pushSwitch));
        for (const QString &line : push)
            page += para(line);
        page += para(QStringLiteral("最新完整版：<a href=\"https://mosalune.example/\" "
                                    "target=\"_blank\">官网下载</a>"));
        return page + tail;
    }
};

// A share page whose download button carries address (markup form).
inline QString sharePage(const QString &addressHtml)
{
    return QStringLiteral("<html><head><title>文件分享</title></head><body>"
                          "<div class=\"file\">MSLUpdate.exe 1.2 MB</div>"
                          "<div class=\"bar\"><span>保存至网盘</span>"
                          "<a class=\"btn\" href=\"%1\" id=\"downloadButton\">普通下载</a>"
                          "</div></body></html>")
        .arg(addressHtml);
}

} // namespace pagebuilder
