#include "feeds/news_list.h"

#include "board/error_numbers.h"
#include "board/feed_tree.h"

namespace vantrel {

const std::array<const char*, NewsItem::ColumnCount> kNewsColumnHeaders = {
    "番号", "記事名", "記事元", "取得日時", "URL", "記事内容", "記事制作者", "記事制作日時"};

std::string& NewsItem::SubItem(int index)
{
    if (index < 1 || index >= ColumnCount)
        throw ToolkitError(errors::kIndexOutOfBounds.number, "Sub-item index out of bounds");
    return columns[static_cast<std::size_t>(index)];
}

const std::string& NewsItem::SubItem(int index) const
{
    return const_cast<NewsItem*>(this)->SubItem(index);
}

NewsItem& NewsList::Add(const std::string& text)
{
    NewsItem& item = m_rows.emplace_back();
    item.columns[NewsItem::Number] = text;
    return item;
}

NewsItem& NewsList::Item(std::int32_t position)
{
    if (position < 1 || position > Count())
        throw ToolkitError(errors::kIndexOutOfBounds.number, "News row index out of bounds");
    return m_rows[static_cast<std::size_t>(position - 1)];
}

const NewsItem& NewsList::Item(std::int32_t position) const
{
    return const_cast<NewsList*>(this)->Item(position);
}

}  // namespace vantrel
