#include "fakes.h"

namespace vantrel::test {

void ScriptedEventPump::processPendingEvents()
{
    ++passes;
    if (onPass)
        onPass();
}

}  // namespace vantrel::test
