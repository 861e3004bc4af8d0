#pragma once

namespace platform {

// Whether the machine reports a network connection.
class NetworkState
{
public:
    virtual ~NetworkState() = default;
    virtual bool connected() = 0;
};

// Qt's network information where it knows the answer; otherwise any
// non-loopback interface that is up and has an address.
class SystemNetworkState : public NetworkState
{
public:
    bool connected() override;
};

} // namespace platform
