#pragma once

#include <QString>

namespace platform {

// Whether another copy of this program was already running when this one
// started.
class InstanceCheck
{
public:
    virtual ~InstanceCheck() = default;
    virtual bool previousInstance() = 0;
};

// Takes a lock named after key for the life of the object. The lock is held
// by the process, so one that crashed or was killed leaves nothing behind
// that could lock out the next start.
class LockFileInstance : public InstanceCheck
{
public:
    // folder: where the lock lives; empty means the user's private runtime
    // folder (as the window registry uses). When no private folder can be
    // had, nothing is locked and no previous instance is ever reported.
    explicit LockFileInstance(const QString &key, const QString &folder = QString());
    ~LockFileInstance() override;
    LockFileInstance(const LockFileInstance &) = delete;
    LockFileInstance &operator=(const LockFileInstance &) = delete;

    bool previousInstance() override { return m_previous; }

private:
    int m_fd = -1;
    bool m_previous = false;
};

} // namespace platform
