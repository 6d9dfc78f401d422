#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace vantrel {

class XmlDocument;
class XmlNodeList;
struct XmlDocumentData;

// A node of a loaded document; valid while the document lives and is not loaded again.
class XmlNode {
public:
    XmlNode() = default;

    // Qualified name of an element (prefix:name); names of other nodes start with "#".
    const std::string& nodeName() const;
    // Child nodes of every kind in document order. Entity references show no children.
    XmlNodeList childNodes() const;
    // Text content of the node and all its descendants.
    std::string text() const;

private:
    friend class XmlDocument;
    friend class XmlNodeList;
    XmlNode(const XmlDocument* document, std::uint32_t index) : m_document(document), m_index(index) {}

    const XmlDocument* m_document = nullptr;
    std::uint32_t m_index = 0;
};

class XmlNodeList {
public:
    XmlNodeList() = default;

    std::size_t length() const { return m_children.size(); }
    // Throws std::out_of_range unless index < length().
    XmlNode item(std::size_t index) const;

private:
    friend class XmlNode;
    XmlNodeList(const XmlDocument* document, std::vector<std::uint32_t> children)
        : m_document(document), m_children(std::move(children))
    {
    }

    const XmlDocument* m_document = nullptr;
    std::vector<std::uint32_t> m_children;
};

// An XML document read from a local file over libxml2: no network, no validation, no DTD loading, no entity
// substitution while parsing. The encoding comes from the byte-order mark or the XML declaration.
class XmlDocument {
public:
    XmlDocument();
    ~XmlDocument();
    XmlDocument(const XmlDocument&) = delete;
    XmlDocument& operator=(const XmlDocument&) = delete;

    // True when path held a well-formed document in a supported encoding; false leaves the document empty.
    bool load(const std::string& path);
    // The root element; a nameless node without children when nothing is loaded.
    XmlNode documentElement() const;

private:
    friend class XmlNode;

    std::unique_ptr<XmlDocumentData> m_data;
};

}  // namespace vantrel
