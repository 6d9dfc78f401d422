#include "platform/xml_document.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <fstream>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string_view>
#include <unordered_map>
#include <utility>

#include <libxml/HTMLparser.h>
#include <libxml/SAX2.h>
#include <libxml/encoding.h>
#include <libxml/entities.h>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlerror.h>
#include <libxml/xmlversion.h>

#include "platform/utf8_path.h"
#ifdef _WIN32
#include "platform/xml_encodings_win.h"
#endif

namespace vantrel {
namespace {

// Work allowed to user-declared entities per document: nodes visited plus bytes produced by expanding every
// reference once. A document past it does not load, so a billion-laughs or quadratic blow-up stays small.
constexpr std::size_t kExpansionBudget = 8u << 20;
constexpr std::size_t kPastBudget = kExpansionBudget + 1;
// Entities nest no deeper than libxml2 lets them (40); deeper means a loop.
constexpr int kMaxEntityNesting = 64;

// Feeds use a few dozen names and a handful of attributes per element. libxml2 before 2.12 slows down
// quadratically over many distinct names and over an element with very many attributes or namespace
// declarations; such documents are refused while they are read.
constexpr int kMaxDistinctNames = 100000;
constexpr int kMaxAttributesPerTag = 4096;

// libxml2 refuses a text node past 10 MB unless XML_PARSE_HUGE, which would lift its other limits too; a longer
// run of text goes on in a node of our own.
constexpr std::size_t kLongestLibxmlText = 8u << 20;

// Short text nodes (the blanks between elements, most of them) are kept inside the node: one allocation fewer.
constexpr int kParseOptions = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING | XML_PARSE_COMPACT;

// The RSS 0.91 DTD declares the HTML 4 entities; it is never read, so their characters come from libxml2's table.
constexpr std::string_view kRss091PublicId = "-//Netscape Communications//DTD RSS 0.91//EN";

const std::string kTextName = "#text";
const std::string kCdataName = "#cdata-section";
const std::string kCommentName = "#comment";
const std::string kPiName = "#processing-instruction";
const std::string kEntityRefName = "#entity-reference";
const std::string kOtherName = "#other";

#if LIBXML_VERSION >= 21200
using ErrorRecord = const xmlError*;
#else
using ErrorRecord = xmlErrorPtr;
#endif

void ignoreStructuredError(void*, ErrorRecord) {}

void ignoreGenericError(void*, const char*, ...) {}

xmlParserInputPtr refuseExternalEntity(const char*, const char*, xmlParserCtxtPtr)
{
    return nullptr;
}

// Windows-1252 as browsers decode it: the five bytes the code page leaves undefined stay C1 controls, so a
// document labelled ISO-8859-1 never fails over a byte.
constexpr std::array<char16_t, 32> kWindows1252High = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                                       0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                                       0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                                       0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

// Writes a character below U+10000 as UTF-8; returns the bytes written.
int encodeUtf8(unsigned code, unsigned char* out)
{
    if (code < 0x80) {
        out[0] = static_cast<unsigned char>(code);
        return 1;
    }
    if (code < 0x800) {
        out[0] = static_cast<unsigned char>(0xC0 | (code >> 6));
        out[1] = static_cast<unsigned char>(0x80 | (code & 0x3F));
        return 2;
    }
    out[0] = static_cast<unsigned char>(0xE0 | (code >> 12));
    out[1] = static_cast<unsigned char>(0x80 | ((code >> 6) & 0x3F));
    out[2] = static_cast<unsigned char>(0x80 | (code & 0x3F));
    return 3;
}

int decodeWindows1252(unsigned char* out, int* outLength, const unsigned char* in, int* inLength)
{
    int written = 0;
    int read = 0;
    for (; read < *inLength; ++read) {
        const unsigned char byte = in[read];
        std::array<unsigned char, 3> character{};
        const int size =
            encodeUtf8(byte >= 0x80 && byte < 0xA0 ? kWindows1252High[byte - 0x80] : byte, character.data());
        if (written + size > *outLength)
            break;
        std::memcpy(out + written, character.data(), static_cast<std::size_t>(size));
        written += size;
    }
    *inLength = read;
    *outLength = written;
    return written;
}

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
        // Feeds labelled Latin-1 or ASCII are mostly written in windows-1252 (curly quotes, dashes).
        xmlNewCharEncodingHandler("WINDOWS-1252", decodeWindows1252, nullptr);
        for (const char* alias :
             {"ANSI_X3.4-1968", "ASCII", "CP1252", "CP819", "csISOLatin1", "IBM819", "ISO-8859-1", "ISO-IR-100",
              "ISO8859-1", "ISO88591", "ISO_8859-1", "ISO_8859-1:1987", "L1", "Latin1", "US-ASCII", "x-cp1252"})
            xmlAddEncodingAlias("WINDOWS-1252", alias);
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

// Counts the attributes and namespace declarations of each start tag in the bytes as they are read, so that
// a tag with too many is refused before libxml2 compares them pairwise. Markup is told apart as XML does; NUL
// bytes are skipped, so UTF-16 markup counts as well.
class StartTagScanner {
public:
    bool scan(const char* bytes, std::size_t length)
    {
        const char* const end = bytes + length;
        for (const char* at = bytes; at < end; ++at) {
            at = nextEvent(at, end);
            if (at == end)
                return true;
            if (*at == '\0')
                continue;
            // A byte that ends one state may open the next.
            if (step(*at))
                step(*at);
            if (m_attributes > kMaxAttributesPerTag)
                return false;
        }
        return true;
    }

private:
    enum class State { Text, Open, Bang, BangDash, Tag, Quoted, Comment, Cdata, Pi, Declaration, DeclarationQuoted };

    // The first byte from `at` on that can change the state; the others need no look.
    const char* nextEvent(const char* at, const char* end) const
    {
        const auto find = [&](char byte) {
            const void* found = std::memchr(at, byte, static_cast<std::size_t>(end - at));
            return found ? static_cast<const char*>(found) : end;
        };
        switch (m_state) {
        case State::Text:
            return find('<');
        case State::Quoted:
        case State::DeclarationQuoted:
            return find(m_quote);
        case State::Comment:
            return m_run == 0 ? find('-') : at;
        case State::Cdata:
            return m_run == 0 ? find(']') : at;
        case State::Pi:
            return m_run == 0 ? find('?') : at;
        case State::Tag:
            while (at < end && *at != '"' && *at != '\'' && *at != '=' && *at != '>')
                ++at;
            return at;
        default:
            return at;
        }
    }

    // Advances by one byte; true when the byte belongs to the state it led to.
    bool step(char byte)
    {
        switch (m_state) {
        case State::Text:
            if (byte == '<')
                m_state = State::Open;
            return false;
        case State::Open:
            if (byte == '!') {
                m_state = State::Bang;
            } else if (byte == '?') {
                m_state = State::Pi;
                m_run = 0;
            } else {
                m_state = State::Tag;
                m_attributes = 0;
                return true;
            }
            return false;
        case State::Bang:
            if (byte == '-') {
                m_state = State::BangDash;
                return false;
            }
            if (byte == '[') {
                m_state = State::Cdata;
                m_run = 0;
                return false;
            }
            m_state = State::Declaration;
            return true;
        case State::BangDash:
            if (byte == '-') {
                m_state = State::Comment;
                m_run = 0;
                return false;
            }
            m_state = State::Declaration;
            return true;
        case State::Tag:
            if (byte == '"' || byte == '\'') {
                m_quote = byte;
                m_state = State::Quoted;
            } else if (byte == '=') {
                ++m_attributes;
            } else if (byte == '>') {
                m_state = State::Text;
            }
            return false;
        case State::Quoted:
            if (byte == m_quote)
                m_state = State::Tag;
            return false;
        case State::Comment:
            closeAfter(byte, '-', 2);
            return false;
        case State::Cdata:
            closeAfter(byte, ']', 2);
            return false;
        case State::Pi:
            closeAfter(byte, '?', 1);
            return false;
        case State::Declaration:
            if (byte == '"' || byte == '\'') {
                m_quote = byte;
                m_state = State::DeclarationQuoted;
            } else if (byte == '[' || byte == '>') {
                // An internal subset holds markup of its own.
                m_state = State::Text;
            }
            return false;
        case State::DeclarationQuoted:
            if (byte == m_quote)
                m_state = State::Declaration;
            return false;
        }
        return false;
    }

    // Back to text at '>' after `count` of `mark` ("-->", "]]>", "?>").
    void closeAfter(char byte, char mark, int count)
    {
        if (byte == mark) {
            ++m_run;
        } else {
            if (byte == '>' && m_run >= count)
                m_state = State::Text;
            m_run = 0;
        }
    }

    State m_state = State::Text;
    char m_quote = '"';
    int m_run = 0;
    int m_attributes = 0;
};

struct FileReader {
    std::ifstream stream;
    xmlParserCtxtPtr context = nullptr;
    StartTagScanner scanner;
    bool failed = false;
};

int readFile(void* context, char* buffer, int length)
{
    auto* reader = static_cast<FileReader*>(context);
    if (reader->context && xmlDictSize(reader->context->dict) > kMaxDistinctNames) {
        reader->failed = true;
        return -1;
    }
    reader->stream.read(buffer, length);
    const auto count = static_cast<std::size_t>(reader->stream.gcount());
    if (reader->stream.bad() || !reader->scanner.scan(buffer, count)) {
        reader->failed = true;
        return -1;
    }
    return static_cast<int>(count);
}

bool hasByteOrderMark(const std::array<char, 3>& start)
{
    const auto byte = [&start](std::size_t index) { return static_cast<unsigned char>(start[index]); };
    return (byte(0) == 0xEF && byte(1) == 0xBB && byte(2) == 0xBF) || (byte(0) == 0xFF && byte(1) == 0xFE) ||
           (byte(0) == 0xFE && byte(1) == 0xFF);
}

// Hands text to libxml2's tree builder, and goes on in a node of its own where one run of text would outgrow
// what libxml2 takes into one node. Once that node is the last child, every later piece of the run goes there:
// libxml2 would append to it with lengths it keeps for its own node.
class TextRuns {
public:
    explicit TextRuns(xmlParserCtxtPtr context) : m_context(context) {}

    void install()
    {
        m_context->sax->characters = characters;
        m_context->sax->ignorableWhitespace = characters;
        m_context->sax->serror = ignoreStructuredError;
        m_context->_private = this;
    }

    bool failed() const { return m_failed; }

private:
    static void characters(void* ctx, const xmlChar* text, int length)
    {
        const auto context = static_cast<xmlParserCtxtPtr>(ctx);
        auto* runs = static_cast<TextRuns*>(context->_private);
        // Entity content that libxml2 parses in a context of its own builds a list of its own.
        if (!runs || runs->m_context != context || !context->node) {
            xmlSAX2Characters(ctx, text, length);
            return;
        }
        runs->add(context->node, text, static_cast<std::size_t>(length));
    }

    void add(xmlNodePtr parent, const xmlChar* text, std::size_t length)
    {
        xmlNodePtr last = parent->last;
        if (last && last == m_own) {
            append(text, length);
            return;
        }
        if (last != m_tracked) {
            m_tracked = last;
            m_trackedLength = isText(last) ? static_cast<std::size_t>(xmlStrlen(last->content)) : 0;
        }
        if (isText(last) && m_trackedLength + length > kLongestLibxmlText) {
            startOwn(parent, text, length);
            return;
        }
        xmlSAX2Characters(m_context, text, static_cast<int>(length));
        if (parent->last == m_tracked) {
            m_trackedLength += length;
        } else {
            m_tracked = parent->last;
            m_trackedLength = length;
        }
    }

    static bool isText(xmlNodePtr node) { return node && node->type == XML_TEXT_NODE && node->content; }

    void startOwn(xmlNodePtr parent, const xmlChar* text, std::size_t length)
    {
        const xmlNodePtr node = xmlNewDocTextLen(parent->doc, text, static_cast<int>(length));
        if (!node) {
            fail();
            return;
        }
        node->parent = parent;
        node->prev = parent->last;
        parent->last->next = node;
        parent->last = node;
        m_own = node;
        m_ownLength = length;
        m_ownCapacity = length + 1;
    }

    void append(const xmlChar* text, std::size_t length)
    {
        if (m_ownLength + length >= m_ownCapacity) {
            const std::size_t capacity = std::max(m_ownLength + length + 1, 2 * m_ownCapacity);
            auto* content = static_cast<xmlChar*>(xmlRealloc(m_own->content, capacity));
            if (!content) {
                fail();
                return;
            }
            m_own->content = content;
            m_ownCapacity = capacity;
        }
        std::memcpy(m_own->content + m_ownLength, text, length);
        m_ownLength += length;
        m_own->content[m_ownLength] = 0;
    }

    void fail()
    {
        m_failed = true;
        xmlStopParser(m_context);
    }

    xmlParserCtxtPtr m_context;
    xmlNodePtr m_tracked = nullptr;
    std::size_t m_trackedLength = 0;
    xmlNodePtr m_own = nullptr;
    std::size_t m_ownLength = 0;
    std::size_t m_ownCapacity = 0;
    bool m_failed = false;
};

struct ParserContextDeleter {
    void operator()(xmlParserCtxtPtr context) const { xmlFreeParserCtxt(context); }
};

struct NodeListDeleter {
    void operator()(xmlNodePtr list) const { xmlFreeNodeList(list); }
};

std::string_view view(const xmlChar* text)
{
    return text ? std::string_view(reinterpret_cast<const char*>(text)) : std::string_view();
}

// Visits the nodes below first in document order, elements' children included and entity references'
// declarations not; visit returns false to stop.
template <typename Visit>
void visitBelow(xmlNodePtr top, xmlNodePtr first, Visit&& visit)
{
    xmlNodePtr node = first;
    while (node) {
        if (!visit(node))
            return;
        if (node->type == XML_ELEMENT_NODE && node->children) {
            node = node->children;
            continue;
        }
        while (node && !node->next) {
            node = node->parent;
            if (node == top)
                return;
        }
        if (node)
            node = node->next;
    }
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

}  // namespace

struct XmlDocumentData {
    struct Expansion {
        std::size_t cost = kPastBudget;
        std::string text;
    };

    xmlDocPtr doc = nullptr;
    xmlNodePtr root = nullptr;
    bool htmlEntities = false;
    // Replacement text of every entity the content references, by name.
    std::unordered_map<std::string, Expansion> expansions;
    mutable std::unordered_map<QNameKey, std::string, QNameKeyHash> qualifiedNames;

    XmlDocumentData() = default;
    XmlDocumentData(const XmlDocumentData&) = delete;
    XmlDocumentData& operator=(const XmlDocumentData&) = delete;
    ~XmlDocumentData()
    {
        if (doc)
            xmlFreeDoc(doc);
    }

    const std::string& qualifiedName(xmlNodePtr element) const
    {
        const xmlChar* prefix = element->ns ? element->ns->prefix : nullptr;
        auto [it, added] = qualifiedNames.try_emplace(QNameKey{prefix, element->name});
        if (added) {
            if (prefix)
                it->second.append(view(prefix)).append(1, ':');
            it->second.append(view(element->name));
        }
        return it->second;
    }

    const std::string& entityText(xmlNodePtr reference) const
    {
        static const std::string empty;
        const auto known = expansions.find(std::string(view(reference->name)));
        return known == expansions.end() ? empty : known->second.text;
    }

    // Expands every reference in the content once; false past the budget.
    bool expandReferences()
    {
        if (!doc->intSubset)
            return true;
        std::size_t total = 0;
        bool within = true;
        visitBelow(root, root->children, [&](xmlNodePtr node) {
            if (node->type == XML_ENTITY_REF_NODE) {
                total += expand(node->parent, view(node->name), 0).cost;
                within = total <= kExpansionBudget;
            }
            return within;
        });
        return within;
    }

private:
    const Expansion& expand(xmlNodePtr context, std::string_view name, int nesting)
    {
        std::string key(name);
        if (const auto known = expansions.find(key); known != expansions.end())
            return known->second;
        // Met again while still being expanded: a loop, past any budget.
        expansions.emplace(key, Expansion{});
        Expansion result;
        result.cost = 1;
        const xmlEntityPtr entity = xmlGetDocEntity(doc, reinterpret_cast<const xmlChar*>(key.c_str()));
        if (entity && entity->etype == XML_INTERNAL_GENERAL_ENTITY && entity->content) {
            if (nesting >= kMaxEntityNesting) {
                result.cost = kPastBudget;
            } else {
                expandContent(context, entity, nesting, result);
            }
        } else if (!entity && htmlEntities) {
            if (const htmlEntityDesc* html = htmlEntityLookup(reinterpret_cast<const xmlChar*>(key.c_str()))) {
                std::array<unsigned char, 3> character{};
                const int size = encodeUtf8(html->value, character.data());
                result.text.append(reinterpret_cast<const char*>(character.data()), static_cast<std::size_t>(size));
                result.cost += result.text.size();
            }
        }
        // External entities are never loaded: they stay empty, as undeclared ones do.
        Expansion& stored = expansions[key];
        stored = std::move(result);
        return stored;
    }

    // The declared replacement text parsed where the reference stands, so that markup in it counts as markup.
    void expandContent(xmlNodePtr context, xmlEntityPtr entity, int nesting, Expansion& result)
    {
        xmlNodePtr parsed = nullptr;
        const std::string_view content = view(entity->content);
        if (xmlParseInNodeContext(context, content.data(), static_cast<int>(content.size()), kParseOptions, &parsed) !=
            XML_ERR_OK) {
            xmlFreeNodeList(parsed);
            return;
        }
        const std::unique_ptr<xmlNode, NodeListDeleter> list(parsed);
        visitBelow(nullptr, parsed, [&](xmlNodePtr node) {
            std::size_t step = 1;
            if (node->type == XML_TEXT_NODE || node->type == XML_CDATA_SECTION_NODE) {
                const std::string_view text = view(node->content);
                result.text.append(text);
                step += text.size();
            } else if (node->type == XML_ENTITY_REF_NODE) {
                const Expansion& inner = expand(context, view(node->name), nesting + 1);
                step += inner.cost;
                if (inner.cost < kPastBudget)
                    result.text.append(inner.text);
            }
            result.cost = std::min(result.cost + step, kPastBudget);
            return result.cost < kPastBudget;
        });
        if (result.cost >= kPastBudget)
            result.text.clear();
    }
};

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
        reader.stream.open(Utf8Path(path), std::ios::binary);
        if (!reader.stream)
            return false;
        std::array<char, 3> start{};
        reader.stream.read(start.data(), start.size());
        reader.stream.clear();
        reader.stream.seekg(0);

        const GenericErrorSilencer silencer;
        const std::unique_ptr<xmlParserCtxt, ParserContextDeleter> context(xmlNewParserCtxt());
        if (!context)
            return false;
        reader.context = context.get();
        TextRuns runs(context.get());
        runs.install();
        // libxml2 lets a declared encoding override the byte-order mark; the mark is the stronger evidence.
        const int options = hasByteOrderMark(start) ? kParseOptions | XML_PARSE_IGNORE_ENC : kParseOptions;
        data->doc = xmlCtxtReadIO(context.get(), readFile, nullptr, &reader, nullptr, nullptr, options);
        // A declared encoding the parser could not switch to fails the load even if only errNo records it.
        if (!data->doc || !context->wellFormed || context->errNo == XML_ERR_UNSUPPORTED_ENCODING || runs.failed() ||
            reader.failed)
            return false;
        data->root = xmlDocGetRootElement(data->doc);
        if (!data->root)
            return false;
        const xmlDtdPtr doctype = data->doc->intSubset;
        data->htmlEntities = doctype && view(doctype->ExternalID) == kRss091PublicId;
        if (!data->expandReferences())
            return false;
    } catch (const std::exception&) {
        return false;
    }
    m_data = std::move(data);
    return true;
}

XmlNode XmlDocument::documentElement() const
{
    return m_data->root ? XmlNode(this, m_data->root) : XmlNode();
}

const std::string& XmlNode::nodeName() const
{
    static const std::string empty;
    if (!m_node)
        return empty;
    switch (m_node->type) {
    case XML_ELEMENT_NODE:
        return m_document->m_data->qualifiedName(m_node);
    case XML_TEXT_NODE:
        return kTextName;
    case XML_CDATA_SECTION_NODE:
        return kCdataName;
    case XML_COMMENT_NODE:
        return kCommentName;
    case XML_PI_NODE:
        return kPiName;
    case XML_ENTITY_REF_NODE:
        return kEntityRefName;
    default:
        return kOtherName;
    }
}

XmlNode XmlNode::firstChild() const
{
    // An entity reference's child is the declaration, which is no part of the content.
    if (!m_node || m_node->type == XML_ENTITY_REF_NODE)
        return XmlNode();
    return XmlNode(m_document, m_node->children);
}

XmlNode XmlNode::nextSibling() const
{
    return m_node ? XmlNode(m_document, m_node->next) : XmlNode();
}

std::string XmlNode::text() const
{
    std::string result;
    if (!m_node)
        return result;
    const XmlDocumentData& data = *m_document->m_data;
    switch (m_node->type) {
    case XML_TEXT_NODE:
    case XML_CDATA_SECTION_NODE:
    case XML_COMMENT_NODE:
    case XML_PI_NODE:
        result.assign(view(m_node->content));
        return result;
    case XML_ENTITY_REF_NODE:
        result.assign(data.entityText(m_node));
        return result;
    default:
        break;
    }
    visitBelow(m_node, m_node->children, [&](xmlNodePtr node) {
        if (node->type == XML_TEXT_NODE || node->type == XML_CDATA_SECTION_NODE)
            result.append(view(node->content));
        else if (node->type == XML_ENTITY_REF_NODE)
            result.append(data.entityText(node));
        return true;
    });
    return result;
}

}  // namespace vantrel
