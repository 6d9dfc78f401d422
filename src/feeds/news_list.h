#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace vantrel {

// One news row: column 0 is the row's own text, columns 1 to 7 its sub-items.
struct NewsItem {
    enum Column { Number = 0, Title, Source, FetchedAt, Link, Description, Creator, CreatedAt, ColumnCount };

    std::array<std::string, ColumnCount> columns;

    const std::string& Text() const { return columns[Number]; }
    // Sub-items 1 to 7; throws ToolkitError for any other index.
    std::string& SubItem(int index);
    const std::string& SubItem(int index) const;
};

// Header texts of the eight columns, in order.
extern const std::array<const char*, NewsItem::ColumnCount> kNewsColumnHeaders;

// The ordered news rows, addressed by 1-based position.
class NewsList {
public:
    void Clear() { m_rows.clear(); }
    // Appends a row whose column 0 is text and whose other columns are empty.
    NewsItem& Add(const std::string& text);
    std::int32_t Count() const { return static_cast<std::int32_t>(m_rows.size()); }
    // Throws ToolkitError unless 1 <= position <= Count().
    NewsItem& Item(std::int32_t position);
    const NewsItem& Item(std::int32_t position) const;

private:
    std::vector<NewsItem> m_rows;
};

}  // namespace vantrel
