#pragma once

#include "common/DateUtils.h"

#include <QString>
#include <QStringView>

#include <memory>
#include <vector>

// XML access of the console: the order document the kiosk sends is loaded and read
// through these few DOM operations. pugixml does the work; it stays out of this header
// so that users of the printing library need neither its headers nor its include path.

namespace pugi {
struct xml_node_struct;
struct xml_attribute_struct;
class xpath_node;
} // namespace pugi

class TXMLNodeList;

// A node of a loaded document (the document itself, an element, a text node or an
// attribute), or no node at all. A handle keeps its tree alive, so it stays valid after
// the document object is destroyed or loads another text, as a DOM node reference does.
class TXMLNode {
public:
    TXMLNode() = default;

    bool isNull() const { return !FNode && !FAttribute; }
    explicit operator bool() const { return !isNull(); }

    // Element or attribute name; empty for the document and for text nodes.
    QString nodeName() const;

    // The first node that the XPath selects with this node as context (document order),
    // or no node. An XPath that does not compile or selects no node set throws
    // orvanta::Exception. A null context selects nothing.
    TXMLNode SelectSingleNode(const QString& XPath) const;
    // All nodes that the XPath selects with this node as context, in document order.
    TXMLNodeList SelectNodes(const QString& XPath) const;

private:
    friend class TXMLDocument;
    friend QString GetNodeText(const TXMLNode& Node);

    TXMLNode fromSelected(const pugi::xpath_node& found) const;

    std::shared_ptr<const void> FTree;
    pugi::xml_node_struct* FNode = nullptr;
    pugi::xml_attribute_struct* FAttribute = nullptr;
};

// The result of a selection of all matching nodes: a count and access by index from 0.
class TXMLNodeList {
public:
    int Count() const { return static_cast<int>(FItems.size()); }
    // No node when Index is out of range.
    TXMLNode Item(int Index) const;

    std::vector<TXMLNode>::const_iterator begin() const { return FItems.begin(); }
    std::vector<TXMLNode>::const_iterator end() const { return FItems.end(); }

private:
    friend class TXMLNode;
    std::vector<TXMLNode> FItems;
};

class TXMLDocument {
public:
    TXMLDocument();
    ~TXMLDocument();
    TXMLDocument(const TXMLDocument&) = delete;
    TXMLDocument& operator=(const TXMLDocument&) = delete;

    // Kept for the shape of the DOM interface: loading is always synchronous here, so
    // LoadXML returns only when the document is complete, whatever is set.
    void SetAsync(bool Value);
    bool Async() const { return FAsync; }

    // Loads the document from text that is already decoded: an encoding named in the
    // XML declaration is ignored. True when the text is a well-formed document with one
    // root element; otherwise the document is left empty and ParseErrorCode is not 0.
    bool LoadXML(const QString& Text);
    // 0 when the last load succeeded (or nothing was loaded yet).
    int ParseErrorCode() const { return FParseErrorCode; }
    // Why the last load failed, for the operator's error box: where, then what the parser
    // saw, as "строка 3, позиция 7: Start-end tags mismatch" (line and column from 1, the
    // column in characters). Empty when the last load succeeded.
    QString ParseErrorReason() const { return FParseErrorReason; }

    // The document node: the context for absolute paths.
    TXMLNode DocumentNode() const;
    // The root element, or no node when nothing is loaded.
    TXMLNode DocumentElement() const;

    // Selection with the document as context, or with Context (a node of any loaded
    // document) when given. Failures as TXMLNode::SelectSingleNode.
    TXMLNode SelectSingleNode(const QString& XPath) const;
    TXMLNode SelectSingleNode(const TXMLNode& Context, const QString& XPath) const;
    TXMLNodeList SelectNodes(const QString& XPath) const;
    TXMLNodeList SelectNodes(const TXMLNode& Context, const QString& XPath) const;

private:
    struct Tree;
    std::shared_ptr<Tree> FTree;
    bool FAsync = true;
    int FParseErrorCode = 0;
    QString FParseErrorReason;
};

// An empty document. There is nothing to install or to fail here: the XML library is
// linked into the program.
std::unique_ptr<TXMLDocument> CreateXMLDocument();

// The text of the node and of all its descendants (text and CDATA sections) in document
// order, as it stands in the document: line breaks and inner blanks survive. Empty for no
// node and on any failure.
QString GetNodeText(const TXMLNode& Node);

// GetNodeText of the first node that XPath selects with Node (or the document) as
// context; empty when nothing is selected. A failing selection throws orvanta::Exception.
QString GetXPathText(const TXMLNode& Node, const QString& XPath);
QString GetXPathText(const TXMLDocument& Document, const QString& XPath);

// Removes the delimiter characters at the start of S, then cuts the characters up to
// the next delimiter (or the end) off S and returns them. S keeps the delimiter that
// stopped the token. Delimiters are compared case-sensitively.
QString NextToken(QString& S, QStringView Delimiters);

// Local date-time of an ISO 8601 text such as 2015-06-01T10:30:00+03:00. A text without
// a zone is UTC. The local time is that of the zone's offset in effect at the moment of
// the call, not at the converted date. 0 when the text is empty or cannot be read.
TDateTime ISO8601ToDateTime(const QString& Text);
