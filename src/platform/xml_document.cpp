#include "platform/xml_document.h"

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <mutex>
#include <stdexcept>
#include <string_view>
#include <unordered_map>

#include <libxml/SAX2.h>
#include <libxml/encoding.h>
#include <libxml/entities.h>
#include <libxml/parser.h>
#include <libxml/parserInternals.h>
#include <libxml/xmlerror.h>

#include "platform/utf8_path.h"
#ifdef _WIN32
#include "platform/xml_encodings_win.h"
#endif

namespace vantrel {
namespace {

// Name ids below kFirstElementName belong to the node kinds that are not elements.
enum : std::uint32_t {
    kNoName = 0,
    kTextName,
    kCdataName,
    kCommentName,
    kPiName,
    kEntityRefName,
    kDocumentName,
    kFirstElementName
};

constexpr std::array<std::string_view, kFirstElementName> kKindNames = {
    "", "#text", "#cdata-section", "#comment", "#processing-instruction", "#entity-reference", "#document"};

constexpr std::uint32_t kNone = std::numeric_limits<std::uint32_t>::max();
constexpr unsigned kChunkBits = 14;
constexpr std::uint32_t kChunkSize = 1u << kChunkBits;

// Work allowed to user-declared entities per document: nodes visited plus bytes produced by expanding every
// reference once. A document past it does not load, so a billion-laughs or quadratic blow-up stays small.
constexpr std::size_t kExpansionBudget = 8u << 20;
constexpr std::size_t kPastBudget = kExpansionBudget + 1;

// Feeds use a few dozen names, a handful of attributes and namespaces per element.
constexpr int kMaxDistinctNames = 100000;
constexpr int kMaxAttributeSlots = 5 * 256;  // five slots per attribute
constexpr int kMaxNamespaceSlots = 2 * 256;  // two slots per declaration in scope

constexpr std::streamoff kMaxTextReserve = 64 << 20;

constexpr int kParseOptions = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING;

// Nodes live in pre-order, so a node's descendants are exactly the indices up to `end`, and its next
// sibling, if any, sits at `end`.
struct Node {
    std::uint32_t name;
    std::uint32_t end;
    std::uint32_t textBegin;
    std::uint32_t textLength;
};

xmlParserInputPtr refuseExternalEntity(const char*, const char*, xmlParserCtxtPtr)
{
    return nullptr;
}

void ignoreGenericError(void*, const char*, ...) {}

void ignoreStructuredError(void*, xmlErrorPtr) {}

void initialiseLibxml()
{
    static std::once_flag once;
    std::call_once(once, [] {
        xmlInitParser();
        xmlSetExternalEntityLoader(refuseExternalEntity);
        // glibc's SHIFT_JIS lacks the vendor characters (circled digits, ㈱...) that Japanese feeds use.
        for (const char* alias :
             {"Shift_JIS", "Shift-JIS", "SJIS", "MS_Kanji", "x-sjis", "csShiftJIS", "Windows-31J", "MS932"})
            xmlAddEncodingAlias("CP932", alias);
#ifdef _WIN32
        RegisterSystemEncodings();
#endif
    });
}

// Encoding errors are raised outside any parser context and would reach stderr.
class GenericErrorSilencer {
public:
    GenericErrorSilencer() : m_handler(xmlGenericError), m_context(xmlGenericErrorContext)
    {
        xmlSetGenericErrorFunc(nullptr, ignoreGenericError);
    }
    ~GenericErrorSilencer() { xmlSetGenericErrorFunc(m_context, m_handler); }
    GenericErrorSilencer(const GenericErrorSilencer&) = delete;
    GenericErrorSilencer& operator=(const GenericErrorSilencer&) = delete;

private:
    xmlGenericErrorFunc m_handler;
    void* m_context;
};

// libxml2 2.9 takes quadratic time over many distinct names and over elements with very many attributes or
// namespace declarations; such documents are refused while they are read.
bool beyondParserLimits(const xmlParserCtxt& context)
{
    return xmlDictSize(context.dict) > kMaxDistinctNames || context.maxatts > kMaxAttributeSlots ||
           context.nsMax > kMaxNamespaceSlots;
}

struct FileReader {
    std::ifstream stream;
    xmlParserCtxtPtr context = nullptr;
    bool failed = false;
};

int readFile(void* context, char* buffer, int length)
{
    auto* reader = static_cast<FileReader*>(context);
    if (reader->context && beyondParserLimits(*reader->context)) {
        reader->failed = true;
        return -1;
    }
    reader->stream.read(buffer, length);
    if (reader->stream.bad()) {
        reader->failed = true;
        return -1;
    }
    return static_cast<int>(reader->stream.gcount());
}

bool hasByteOrderMark(const std::array<char, 3>& start)
{
    const auto byte = [&start](std::size_t index) { return static_cast<unsigned char>(start[index]); };
    return (byte(0) == 0xEF && byte(1) == 0xBB && byte(2) == 0xBF) || (byte(0) == 0xFF && byte(1) == 0xFE) ||
           (byte(0) == 0xFE && byte(1) == 0xFF);
}

struct QNameKey {
    const xmlChar* prefix;
    const xmlChar* localName;
    bool operator==(const QNameKey&) const = default;
};

struct QNameKeyHash {
    std::size_t operator()(const QNameKey& key) const
    {
        const std::hash<const void*> hash;
        return hash(key.prefix) * 31 + hash(key.localName);
    }
};

std::string_view view(const xmlChar* text)
{
    return text ? std::string_view(reinterpret_cast<const char*>(text)) : std::string_view();
}

}  // namespace

struct XmlDocumentData {
    std::vector<std::unique_ptr<Node[]>> chunks;
    std::uint32_t nodeCount = 0;
    std::string text;
    std::vector<std::string> names{kKindNames.begin(), kKindNames.end()};
    std::unordered_map<std::string, std::uint32_t> nameIds;
    // Holds the entity declarations and their parsed content; the element tree lives in the nodes.
    xmlDocPtr declarations = nullptr;
    std::uint32_t root = kNone;

    XmlDocumentData() = default;
    XmlDocumentData(const XmlDocumentData&) = delete;
    XmlDocumentData& operator=(const XmlDocumentData&) = delete;
    ~XmlDocumentData()
    {
        if (declarations)
            xmlFreeDoc(declarations);
    }

    Node& node(std::uint32_t index) { return chunks[index >> kChunkBits][index & (kChunkSize - 1)]; }
    const Node& node(std::uint32_t index) const { return chunks[index >> kChunkBits][index & (kChunkSize - 1)]; }
    std::string_view textOf(const Node& node) const
    {
        return std::string_view(text).substr(node.textBegin, node.textLength);
    }

    std::uint32_t appendNode(std::uint32_t name, std::string_view content)
    {
        if (nodeCount == kNone || text.size() + content.size() >= kNone)
            throw std::length_error("XML document too large");
        if ((nodeCount & (kChunkSize - 1)) == 0)
            chunks.push_back(std::make_unique_for_overwrite<Node[]>(kChunkSize));
        const std::uint32_t index = nodeCount++;
        node(index) =
            Node{name, index + 1, static_cast<std::uint32_t>(text.size()), static_cast<std::uint32_t>(content.size())};
        text.append(content);
        return index;
    }

    void extendText(std::uint32_t index, std::string_view content)
    {
        if (text.size() + content.size() >= kNone)
            throw std::length_error("XML document too large");
        text.append(content);
        node(index).textLength += static_cast<std::uint32_t>(content.size());
    }

    std::uint32_t elementName(std::string_view prefix, std::string_view localName)
    {
        std::string qualified;
        qualified.reserve(prefix.size() + 1 + localName.size());
        if (!prefix.empty())
            qualified.append(prefix).append(1, ':');
        qualified.append(localName);
        const auto [it, added] = nameIds.try_emplace(qualified, static_cast<std::uint32_t>(names.size()));
        if (added)
            names.push_back(std::move(qualified));
        return it->second;
    }

    // The parsed content of an internal entity; null for any other.
    xmlNodePtr entityContent(std::string_view name) const;
    void appendEntityText(std::string& out, std::string_view name) const;
    bool expansionWithinBudget() const;

private:
    using ExpansionCosts = std::unordered_map<std::string, std::size_t>;
    std::size_t expansionCost(std::string_view name, ExpansionCosts& costs) const;
};

namespace {

// Visits an entity's content in document order, elements' children included; visit returns false to stop.
template <typename Visit>
void visitEntityContent(xmlNodePtr first, Visit&& visit)
{
    std::vector<xmlNodePtr> pending{first};
    while (!pending.empty()) {
        const xmlNodePtr current = pending.back();
        if (!current) {
            pending.pop_back();
            continue;
        }
        pending.back() = current->next;
        if (!visit(current))
            return;
        if (current->type == XML_ELEMENT_NODE)
            pending.push_back(current->children);
    }
}

bool isText(xmlNodePtr node)
{
    return node->type == XML_TEXT_NODE || node->type == XML_CDATA_SECTION_NODE;
}

}  // namespace

xmlNodePtr XmlDocumentData::entityContent(std::string_view name) const
{
    if (!declarations)
        return nullptr;
    const std::string entityName(name);
    const xmlEntityPtr entity = xmlGetDocEntity(declarations, reinterpret_cast<const xmlChar*>(entityName.c_str()));
    // Predefined entities were replaced by the parser; external ones are never loaded.
    return entity && entity->etype == XML_INTERNAL_GENERAL_ENTITY ? entity->children : nullptr;
}

// A loaded document is within the budget, which also rules out reference loops.
void XmlDocumentData::appendEntityText(std::string& out, std::string_view name) const
{
    visitEntityContent(entityContent(name), [&](xmlNodePtr node) {
        if (isText(node))
            out.append(view(node->content));
        else if (node->type == XML_ENTITY_REF_NODE)
            appendEntityText(out, view(node->name));
        return true;
    });
}

std::size_t XmlDocumentData::expansionCost(std::string_view name, ExpansionCosts& costs) const
{
    std::string key(name);
    if (const auto known = costs.find(key); known != costs.end())
        return known->second;
    // Met again while still being counted: a loop, past any budget.
    costs.emplace(key, kPastBudget);
    std::size_t cost = 0;
    visitEntityContent(entityContent(name), [&](xmlNodePtr node) {
        std::size_t step = 1;
        if (isText(node))
            step += view(node->content).size();
        else if (node->type == XML_ENTITY_REF_NODE)
            step += expansionCost(view(node->name), costs);
        cost = std::min(cost + step, kPastBudget);
        return cost < kPastBudget;
    });
    costs[key] = cost;
    return cost;
}

bool XmlDocumentData::expansionWithinBudget() const
{
    if (!declarations || !declarations->intSubset)
        return true;
    ExpansionCosts costs;
    std::size_t total = 0;
    for (std::uint32_t index = 0; index < nodeCount; ++index) {
        const Node& reference = node(index);
        if (reference.name != kEntityRefName)
            continue;
        total += expansionCost(textOf(reference), costs);
        if (total > kExpansionBudget)
            return false;
    }
    return true;
}

namespace {

// Builds the nodes from the parser's events. Content of entity declarations is parsed by libxml2 in a
// context of its own; those events go to libxml2's tree builder so that the declarations keep their content.
struct TreeBuilder {
    xmlParserCtxtPtr context;
    XmlDocumentData* data;
    std::vector<std::uint32_t> open;
    std::uint32_t openText = kNone;
    std::unordered_map<QNameKey, std::uint32_t, QNameKeyHash> nameCache;
    bool failed = false;

    static TreeBuilder* of(void* ctx)
    {
        const auto context = static_cast<xmlParserCtxtPtr>(ctx);
        auto* builder = static_cast<TreeBuilder*>(context->_private);
        return builder && builder->context == context ? builder : nullptr;
    }

    template <typename Step>
    void guarded(Step&& step) noexcept
    {
        try {
            step();
        } catch (...) {
            failed = true;
            xmlStopParser(context);
        }
    }

    void addLeaf(std::uint32_t name, std::string_view content)
    {
        data->appendNode(name, content);
        openText = kNone;
    }

    static void startElement(void* ctx, const xmlChar* localName, const xmlChar* prefix, const xmlChar* uri,
                             int namespaceCount, const xmlChar** namespaces, int attributeCount, int defaultedCount,
                             const xmlChar** attributes)
    {
        TreeBuilder* builder = of(ctx);
        if (!builder) {
            xmlSAX2StartElementNs(ctx, localName, prefix, uri, namespaceCount, namespaces, attributeCount,
                                  defaultedCount, attributes);
            return;
        }
        builder->guarded([&] {
            const QNameKey key{prefix, localName};
            auto it = builder->nameCache.find(key);
            if (it == builder->nameCache.end())
                it = builder->nameCache.emplace(key, builder->data->elementName(view(prefix), view(localName))).first;
            builder->open.push_back(builder->data->appendNode(it->second, {}));
            builder->openText = kNone;
        });
    }

    static void endElement(void* ctx, const xmlChar* localName, const xmlChar* prefix, const xmlChar* uri)
    {
        TreeBuilder* builder = of(ctx);
        if (!builder) {
            xmlSAX2EndElementNs(ctx, localName, prefix, uri);
            return;
        }
        if (builder->open.size() < 2)
            return;
        builder->data->node(builder->open.back()).end = builder->data->nodeCount;
        builder->open.pop_back();
        builder->openText = kNone;
    }

    static void characters(void* ctx, const xmlChar* text, int length)
    {
        TreeBuilder* builder = of(ctx);
        if (!builder) {
            xmlSAX2Characters(ctx, text, length);
            return;
        }
        builder->guarded([&] {
            // The parser hands one run of text over in pieces.
            const std::string_view content(reinterpret_cast<const char*>(text), static_cast<std::size_t>(length));
            if (builder->openText != kNone)
                builder->data->extendText(builder->openText, content);
            else
                builder->openText = builder->data->appendNode(kTextName, content);
        });
    }

    static void cdataBlock(void* ctx, const xmlChar* text, int length)
    {
        TreeBuilder* builder = of(ctx);
        if (!builder) {
            xmlSAX2CDataBlock(ctx, text, length);
            return;
        }
        builder->guarded([&] {
            builder->addLeaf(kCdataName,
                             std::string_view(reinterpret_cast<const char*>(text), static_cast<std::size_t>(length)));
        });
    }

    static void comment(void* ctx, const xmlChar* text)
    {
        TreeBuilder* builder = of(ctx);
        if (!builder || static_cast<xmlParserCtxtPtr>(ctx)->inSubset) {
            xmlSAX2Comment(ctx, text);
            return;
        }
        builder->guarded([&] { builder->addLeaf(kCommentName, view(text)); });
    }

    static void processingInstruction(void* ctx, const xmlChar* target, const xmlChar* content)
    {
        TreeBuilder* builder = of(ctx);
        if (!builder || static_cast<xmlParserCtxtPtr>(ctx)->inSubset) {
            xmlSAX2ProcessingInstruction(ctx, target, content);
            return;
        }
        builder->guarded([&] { builder->addLeaf(kPiName, view(content)); });
    }

    // The node keeps the entity's name as its text; text() looks the declaration up by it.
    static void reference(void* ctx, const xmlChar* name)
    {
        TreeBuilder* builder = of(ctx);
        if (!builder) {
            xmlSAX2Reference(ctx, name);
            return;
        }
        builder->guarded([&] { builder->addLeaf(kEntityRefName, view(name)); });
    }

    void install()
    {
        xmlSAXHandler& sax = *context->sax;
        sax.startElementNs = startElement;
        sax.endElementNs = endElement;
        sax.characters = characters;
        sax.ignorableWhitespace = characters;
        sax.cdataBlock = cdataBlock;
        sax.comment = comment;
        sax.processingInstruction = processingInstruction;
        sax.reference = reference;
        sax.serror = ignoreStructuredError;
        context->_private = this;
    }
};

struct ParserContextDeleter {
    void operator()(xmlParserCtxtPtr context) const { xmlFreeParserCtxt(context); }
};

}  // namespace

XmlDocument::XmlDocument() : m_data(std::make_unique<XmlDocumentData>()) {}

XmlDocument::~XmlDocument() = default;

bool XmlDocument::load(const std::string& path)
{
    initialiseLibxml();
    m_data = std::make_unique<XmlDocumentData>();
    auto data = std::make_unique<XmlDocumentData>();
    try {
        FileReader reader;
        // The path is UTF-8 on every platform, also where the narrow file API is not.
        reader.stream.open(Utf8Path(path), std::ios::binary | std::ios::ate);
        if (!reader.stream)
            return false;
        const std::streamoff size = reader.stream.tellg();
        reader.stream.seekg(0);
        // Text never outgrows the file much; the cap keeps an odd size report (a folder) from reserving wildly.
        if (size > 0)
            data->text.reserve(static_cast<std::size_t>(std::min<std::streamoff>(size, kMaxTextReserve)));
        std::array<char, 3> start{};
        reader.stream.read(start.data(), start.size());
        reader.stream.clear();
        reader.stream.seekg(0);

        const GenericErrorSilencer silencer;
        const std::unique_ptr<xmlParserCtxt, ParserContextDeleter> context(
            xmlCreateIOParserCtxt(nullptr, nullptr, readFile, nullptr, &reader, XML_CHAR_ENCODING_NONE));
        if (!context)
            return false;
        reader.context = context.get();
        // libxml2 lets a declared encoding override the byte-order mark; the mark is the stronger evidence.
        xmlCtxtUseOptions(context.get(),
                          hasByteOrderMark(start) ? kParseOptions | XML_PARSE_IGNORE_ENC : kParseOptions);
        TreeBuilder builder{context.get(), data.get(), {}, kNone, {}, false};
        builder.install();
        builder.open.push_back(data->appendNode(kDocumentName, {}));

        xmlParseDocument(context.get());
        data->declarations = context->myDoc;
        context->myDoc = nullptr;
        // A declared encoding the parser could not switch to fails the load even if only errNo records it.
        if (!context->wellFormed || context->errNo == XML_ERR_UNSUPPORTED_ENCODING || builder.failed || reader.failed ||
            builder.open.size() != 1)
            return false;
        data->node(0).end = data->nodeCount;
        for (std::uint32_t child = 1; child < data->nodeCount; child = data->node(child).end) {
            if (data->node(child).name >= kFirstElementName) {
                data->root = child;
                break;
            }
        }
        if (data->root == kNone || !data->expansionWithinBudget())
            return false;
    } catch (const std::exception&) {
        return false;
    }
    m_data = std::move(data);
    return true;
}

XmlNode XmlDocument::documentElement() const
{
    return m_data->root == kNone ? XmlNode() : XmlNode(this, m_data->root);
}

const std::string& XmlNode::nodeName() const
{
    static const std::string empty;
    if (!m_document)
        return empty;
    const XmlDocumentData& data = *m_document->m_data;
    return data.names[data.node(m_index).name];
}

XmlNodeList XmlNode::childNodes() const
{
    std::vector<std::uint32_t> children;
    if (m_document) {
        const XmlDocumentData& data = *m_document->m_data;
        const Node& parent = data.node(m_index);
        if (parent.name != kEntityRefName) {
            for (std::uint32_t child = m_index + 1; child < parent.end; child = data.node(child).end)
                children.push_back(child);
        }
    }
    return XmlNodeList(m_document, std::move(children));
}

std::string XmlNode::text() const
{
    std::string result;
    if (!m_document)
        return result;
    const XmlDocumentData& data = *m_document->m_data;
    const Node& node = data.node(m_index);
    switch (node.name) {
    case kTextName:
    case kCdataName:
    case kCommentName:
    case kPiName:
        result.assign(data.textOf(node));
        return result;
    case kEntityRefName:
        data.appendEntityText(result, data.textOf(node));
        return result;
    default:
        break;
    }
    // Descendants form one index range, so no recursion is needed however deep the tree is.
    for (std::uint32_t index = m_index + 1; index < node.end; ++index) {
        const Node& descendant = data.node(index);
        if (descendant.name == kTextName || descendant.name == kCdataName)
            result.append(data.textOf(descendant));
        else if (descendant.name == kEntityRefName)
            data.appendEntityText(result, data.textOf(descendant));
    }
    return result;
}

XmlNode XmlNodeList::item(std::size_t index) const
{
    return XmlNode(m_document, m_children.at(index));
}

}  // namespace vantrel
