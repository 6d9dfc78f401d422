#include "platform/transfer_module.h"

#include <utility>

#include <QLibrary>

namespace vantrel {

ModuleTransfer::ModuleTransfer(std::vector<std::string> folders) : m_folders(std::move(folders)) {}

ModuleTransfer::~ModuleTransfer() = default;

void ModuleTransfer::setRequestOverride(std::int32_t value)
{
    if (m_transfer)
        m_transfer->setRequestOverride(value);
}

FetchResponse ModuleTransfer::fetch(const std::string& url)
{
    if (m_aborted.load())
        return {FetchResponse::Status::Aborted, {}, "aborted"};
    std::string error;
    if (!m_transfer && !load(error))
        return {FetchResponse::Status::Failed, {}, std::move(error)};
    return m_transfer->fetch(url);
}

void ModuleTransfer::abort()
{
    m_aborted.store(true);
    if (m_transfer)
        m_abortTransfer(m_transfer.get());
}

bool ModuleTransfer::load(std::string& error)
{
    using Create = Transfer* (*)();
    using Abort = void (*)(Transfer*);
    for (const std::string& folder : m_folders) {
        auto library = std::make_unique<QLibrary>(QString::fromStdString(folder) + QStringLiteral("/") +
                                                  QStringLiteral(VANTREL_TRANSFER_MODULE));
        const auto create = reinterpret_cast<Create>(library->resolve("vantrel_create_transfer"));
        const auto abortTransfer = reinterpret_cast<Abort>(library->resolve("vantrel_abort_transfer"));
        if (!create || !abortTransfer) {
            error += library->errorString().toStdString() + "; ";
            continue;
        }
        m_transfer.reset(create());
        m_abortTransfer = abortTransfer;
        m_library = std::move(library);
        return true;
    }
    error = "no transfer module: " + error;
    return false;
}

}  // namespace vantrel
