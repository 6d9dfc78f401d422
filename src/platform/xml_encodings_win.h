#pragma once

namespace vantrel {

// libxml2 for Windows is built without iconv: this gives it decoders for the code pages that feeds declare
// (Shift_JIS, EUC-JP, windows-125x, KOI8-R, GB2312...), converting through the system. An encoding that the
// system does not have stays unknown, and a document declaring it does not load.
void RegisterSystemEncodings();

}  // namespace vantrel
