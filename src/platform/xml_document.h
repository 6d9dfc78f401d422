#pragma once

#include <memory>
#include <string>

struct _xmlNode;

namespace vantrel {

class XmlDocument;
struct XmlDocumentData;
using XmlNodeHandle = _xmlNode*;

// A node of a loaded document; valid while the document lives and is not loaded again.
class XmlNode {
public:
    XmlNode() = default;

    // True past the last child, and for the root of a document that did not load.
    bool isNull() const { return m_node == nullptr; }
    // Qualified name of an element (prefix:name); names of other nodes start with "#".
    const std::string& nodeName() const;
    // Children of every kind in document order, walked from the first on. Entity references show no children.
    XmlNode firstChild() const;
    XmlNode nextSibling() const;
    // Text content of the node and all its descendants; an entity reference gives its replacement text.
    std::string text() const;

private:
    friend class XmlDocument;
    XmlNode(const XmlDocument* document, XmlNodeHandle node) : m_document(document), m_node(node) {}

    const XmlDocument* m_document = nullptr;
    XmlNodeHandle m_node = nullptr;
};

// An XML document read from a local file into libxml2's tree: no network, no validation, no DTD loading, no entity
// substitution while parsing. The encoding comes from the byte-order mark or the XML declaration; the labels that
// browsers read as windows-1252 (ISO-8859-1, US-ASCII...) are read so too.
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
