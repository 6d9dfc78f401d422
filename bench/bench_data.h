#pragma once

#include <cstddef>
#include <string>

namespace vantrel::bench {

// An RSS 2.0 document of exactly totalBytes bytes (UTF-8) with itemCount items, the same bytes on every
// run: Japanese and ASCII titles, entity references, CDATA descriptions, dates and authors.
std::string MakeRssFeed(std::size_t totalBytes, int itemCount);

// The title the first item of MakeRssFeed carries, as the extraction shows it.
std::string FirstRssTitle();

// A board of exactly nodeCount nodes (roots, sub-folders and feeds), the same bytes on every run.
// In the ANSI code page (932) unless utf8 is set.
std::string MakeBoard(int nodeCount, bool utf8 = false);

// Writes bytes into path, replacing the file; throws std::runtime_error on failure.
void WriteFile(const std::string& path, const std::string& bytes);

}  // namespace vantrel::bench
