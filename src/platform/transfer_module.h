#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/transfer.h"

class QLibrary;

namespace vantrel {

// The transfer over Qt Network, taken from a module of its own at the first fetch: Qt Network and what it
// links (Kerberos, libproxy) then cost the program nothing at start. Without the module nothing is fetched.
class ModuleTransfer final : public Transfer {
public:
    // The module's file name (VANTREL_TRANSFER_MODULE) is looked for in each folder in turn.
    explicit ModuleTransfer(std::vector<std::string> folders);
    ~ModuleTransfer() override;
    ModuleTransfer(const ModuleTransfer&) = delete;
    ModuleTransfer& operator=(const ModuleTransfer&) = delete;

    void setRequestOverride(std::int32_t value) override;
    FetchResponse fetch(const std::string& url) override;

    // Ends a fetch under way at once and every later one, as NetworkTransfer::abort() does; the module is not
    // loaded for it.
    void abort();

private:
    bool load(std::string& error);

    std::vector<std::string> m_folders;
    std::atomic<bool> m_aborted{false};
    // Never unloaded: the transfer's code must outlive it.
    std::unique_ptr<QLibrary> m_library;
    std::unique_ptr<Transfer> m_transfer;
    void (*m_abortTransfer)(Transfer*) = nullptr;
};

}  // namespace vantrel
