// The entry points through which ModuleTransfer takes the transfer from this module.
#include <QtGlobal>

#include "platform/network_transfer.h"

extern "C" Q_DECL_EXPORT vantrel::Transfer* vantrel_create_transfer()
{
    return new vantrel::NetworkTransfer();
}

extern "C" Q_DECL_EXPORT void vantrel_abort_transfer(vantrel::Transfer* transfer)
{
    static_cast<vantrel::NetworkTransfer*>(transfer)->abort();
}
