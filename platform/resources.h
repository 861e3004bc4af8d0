#pragma once

#include <QByteArray>
#include <QString>

namespace platform {

// The files a program carries inside itself, by numeric id.
class ResourceStore
{
public:
    virtual ~ResourceStore() = default;
    // The resource's bytes; throws common::RunError when the program carries
    // no resource with that id.
    virtual QByteArray customResource(int id) = 0;
};

// Resources compiled into the program with Qt's resource system, each under
// prefix + "/" + its id (":/custom/101").
class QtResourceStore : public ResourceStore
{
public:
    explicit QtResourceStore(QString prefix = QStringLiteral(":/custom"));
    QByteArray customResource(int id) override;

private:
    QString m_prefix;
};

} // namespace platform
