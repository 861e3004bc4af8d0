#pragma once

#include "platform/instance.h"

namespace fakes {

// Answers what the test sets.
class FakeInstance : public platform::InstanceCheck
{
public:
    bool previousInstance() override
    {
        ++calls;
        return previous;
    }

    bool previous = false;
    int calls = 0;
};

} // namespace fakes
