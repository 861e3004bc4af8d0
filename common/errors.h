#pragma once

#include <QString>

#include <exception>

namespace common {

// One rule for the whole program: the core throws typed errors, and turns
// whatever a library throws into its own typed error once, at its edge
// (picture::loadPictureStretched, tiles::loadDisplay); a form catches the
// typed error once, at its handler, and shows it or prints it on standard
// error; a thread boundary only carries an exception across
// (std::exception_ptr). A program's main is the last edge.
//
// How this layer reports failures:
// - what reads a page, a signature or a checksum list, and the blocking
//   fetches, throw a RunError below (the forms' error traps catch it);
// - what cannot throw to its caller reports a verdict and the reason beside
//   it: a download's end (Inet::Outcome, Inet::lastError()) arrives through
//   the event loop; the release check (ReleaseCheck: fault and reason) is a
//   verdict, not a failure; the replace journal (bool or RollForward with
//   QString *error) runs at a program's start and while files are renamed,
//   where a failure must leave the folder to the next start.

// A run-time failure that a form's error trap catches. The message is in the
// user's language and says what went wrong in plain words.
class RunError : public std::exception
{
public:
    explicit RunError(QString message) : m_message(std::move(message)), m_utf8(m_message.toUtf8()) {}
    const QString &message() const noexcept { return m_message; }
    const char *what() const noexcept override { return m_utf8.constData(); }

private:
    QString m_message;
    QByteArray m_utf8;
};

// A page that breaks one of the reading rules of the release page format.
// rule names the marker or rule that failed (a short stable key such as
// "Ver" or "FileEntries.quotes"); the message explains it in Chinese.
class ReadError : public RunError
{
public:
    ReadError(QString rule, QString message) : RunError(std::move(message)), m_rule(std::move(rule)) {}
    const QString &rule() const noexcept { return m_rule; }

private:
    QString m_rule;
};

// A fetch that failed: no answer, time-out, refused, a non-success status or
// a body cut short.
class TransferError : public RunError
{
public:
    using RunError::RunError;
};

} // namespace common
