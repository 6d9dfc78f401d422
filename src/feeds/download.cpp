#include "feeds/download.h"

#include <filesystem>
#include <system_error>

#include "board/data_paths.h"
#include "feeds/cache_file.h"
#include "feeds/status_line.h"
#include "platform/atomic_file.h"
#include "platform/clock.h"
#include "platform/transfer.h"
#include "platform/utf8_path.h"

namespace vantrel {
namespace {

std::string stamped(const std::string& text, const Clock& clock)
{
    return text + "[" + clock.timeOfDay() + "]";
}

}  // namespace

std::int32_t DownloadFeed(Transfer& transfer, StatusLine& status, const std::string& url, const std::string& fileName,
                          const DownloadSite& site, std::string& feedCachePath)
{
    try {
        status.setCaption(stamped(url + "をダウンロードします。", site.clock));
        FetchResponse response = transfer.fetch(url);
        // The program is closing: the label may already be gone, and no file is worth touching now.
        if (response.status == FetchResponse::Status::Aborted)
            return -1;
        if (response.status == FetchResponse::Status::Ok) {
            status.setCaption(stamped(url + "をダウンロード中です。", site.clock));
            feedCachePath = DataFilePath(site.appDir, DataFolder::Cache, fileName);
            // A feed text such as "../x" would otherwise write outside the cache folder.
            if (IsSafeCacheFileName(fileName) && ReplaceFileContents(feedCachePath, response.body)) {
                std::error_code error;
                const auto length =
                    std::filesystem::file_size(Utf8Path(DataFilePath(site.appDir, DataFolder::Cache, fileName)), error);
                if (!error && length != 0) {
                    status.setCaption(stamped("ダウンロード完了しました。", site.clock));
                    return 0;
                }
            }
        }
    } catch (...) {
        // Whatever raised it, the attempt ends in the failure text below.
    }
    status.setCaption(stamped("ダウンロードできませんでした。", site.clock));
    return -1;
}

}  // namespace vantrel
