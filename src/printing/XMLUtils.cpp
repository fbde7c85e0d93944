#include "printing/XMLUtils.h"

#include "common/FormatSettings.h"
#include "common/GlobConst.h"
#include "platform/Error.h"

#include <pugixml.hpp>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <ctime>
#include <string>

namespace {

// Load failures that pugixml lets through but a DOM refuses; numbered past its own codes.
constexpr int kErrorSeveralRoots = 101;
constexpr int kErrorTextOutsideRoot = 102;

pugi::xml_node nodeOf(pugi::xml_node_struct* node) {
    return pugi::xml_node(node);
}

std::string toUtf8(const QString& text) {
    const QByteArray bytes = text.toUtf8();
    return std::string(bytes.constData(), static_cast<size_t>(bytes.size()));
}

// Compiles and evaluates one XPath; every failure of the selection becomes our exception.
template <typename Evaluate> auto evaluate(const QString& xpath, Evaluate&& run) {
    try {
        const pugi::xpath_query query(toUtf8(xpath).c_str());
        return run(query);
    } catch (const pugi::xpath_exception& e) {
        throw orvanta::Exception(
            QStringLiteral("Ошибка XPath «%1»: %2").arg(xpath, QString::fromUtf8(e.what())));
    }
}

// Collects text and CDATA in document order; comments and instructions are not text.
class TextCollector : public pugi::xml_tree_walker {
public:
    std::string text;

    bool for_each(pugi::xml_node& node) override {
        if (node.type() == pugi::node_pcdata || node.type() == pugi::node_cdata)
            text += node.value();
        return true;
    }
};

// The bias in minutes of the local time in effect now (UTC = local time + bias).
// 0 when the C library cannot tell.
int currentBiasMinutes() {
    // localtime_r alone keeps the zone it read first; tzset picks up a zone changed
    // since, as the system's own time-zone information would show it.
    tzset();
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    if (now == static_cast<std::time_t>(-1) || !localtime_r(&now, &local))
        return 0;
    return static_cast<int>(-local.tm_gmtoff / 60);
}

// "строка L, позиция C" of a byte offset into the UTF-8 text, both from 1; the column
// counts characters, as the operator sees them in an editor.
QString positionOf(const std::string& utf8, std::ptrdiff_t offset) {
    const size_t end =
        std::min(static_cast<size_t>(std::max<std::ptrdiff_t>(offset, 0)), utf8.size());
    int line = 1;
    size_t lineStart = 0;
    for (size_t i = 0; i < end; ++i) {
        if (utf8[i] == '\n') {
            ++line;
            lineStart = i + 1;
        }
    }
    const qsizetype column =
        QString::fromUtf8(utf8.data() + lineStart, static_cast<qsizetype>(end - lineStart)).size() +
        1;
    return QStringLiteral("строка %1, позиция %2").arg(line).arg(column);
}

// Where a node that a DOM refuses at the top level begins in the text: the "<" of an
// element, the first character of a text that is not a blank.
std::ptrdiff_t startOf(const pugi::xml_node& node, const std::string& utf8) {
    std::ptrdiff_t offset = node.offset_debug();
    if (offset < 0)
        return 0;
    if (node.type() == pugi::node_element)
        return offset > 0 ? offset - 1 : 0;
    while (static_cast<size_t>(offset) < utf8.size() &&
           std::isspace(static_cast<unsigned char>(utf8[static_cast<size_t>(offset)])))
        ++offset;
    return offset;
}

// Date-time values before 30 December 1899 count their time of day forward from a
// negative day (-1.25 is 29 December, 06:00), so a plain count of days, which an offset
// can be added to, has to be turned into that form.
TDateTime fromLinearDays(double days) {
    if (days >= 0)
        return days;
    const double day = std::floor(days);
    return day - (days - day);
}

} // namespace

// ---------------------------------------------------------------------------------------

struct TXMLDocument::Tree {
    pugi::xml_document document;
};

QString TXMLNode::nodeName() const {
    if (FAttribute)
        return QString::fromUtf8(pugi::xml_attribute(FAttribute).name());
    return QString::fromUtf8(nodeOf(FNode).name());
}

TXMLNode TXMLNode::fromSelected(const pugi::xpath_node& found) const {
    TXMLNode node;
    if (found) {
        node.FTree = FTree;
        node.FNode = found.attribute() ? nullptr : found.node().internal_object();
        node.FAttribute = found.attribute().internal_object();
    }
    return node;
}

TXMLNode TXMLNode::SelectSingleNode(const QString& XPath) const {
    // Attributes have no children; a path from one selects nothing in a DOM either.
    if (!FNode)
        return {};
    const pugi::xpath_node found = evaluate(XPath, [this](const pugi::xpath_query& query) {
        return query.evaluate_node(nodeOf(FNode));
    });
    return fromSelected(found);
}

TXMLNodeList TXMLNode::SelectNodes(const QString& XPath) const {
    TXMLNodeList list;
    if (!FNode)
        return list;
    pugi::xpath_node_set found = evaluate(XPath, [this](const pugi::xpath_query& query) {
        return query.evaluate_node_set(nodeOf(FNode));
    });
    found.sort();
    list.FItems.reserve(found.size());
    for (const pugi::xpath_node& n : found)
        list.FItems.push_back(fromSelected(n));
    return list;
}

TXMLNode TXMLNodeList::Item(int Index) const {
    if (Index < 0 || Index >= Count())
        return {};
    return FItems[static_cast<size_t>(Index)];
}

// ---------------------------------------------------------------------------------------

TXMLDocument::TXMLDocument()
    : FTree(std::make_shared<Tree>()) {}

TXMLDocument::~TXMLDocument() = default;

void TXMLDocument::SetAsync(bool Value) {
    FAsync = Value;
}

bool TXMLDocument::LoadXML(const QString& Text) {
    // A fresh tree for every load: node handles of the previous text keep theirs.
    auto tree = std::make_shared<Tree>();
    const std::string utf8 = toUtf8(Text);
    // The text is decoded already, so the bytes handed over are UTF-8 whatever the
    // declaration claims. Fragment mode lets us see text and extra elements outside the
    // root, which pugixml would otherwise drop or accept silently.
    const pugi::xml_parse_result result = tree->document.load_buffer(
        utf8.data(), utf8.size(), pugi::parse_default | pugi::parse_fragment, pugi::encoding_utf8);
    int code = result.status;
    QString reason = QString::fromUtf8(result.description());
    std::ptrdiff_t offset = result.offset;
    if (code == pugi::status_ok) {
        int elements = 0;
        pugi::xml_node strayText;
        pugi::xml_node secondRoot;
        for (const pugi::xml_node child : tree->document.children()) {
            if (child.type() == pugi::node_element && ++elements == 2)
                secondRoot = child;
            else if ((child.type() == pugi::node_pcdata || child.type() == pugi::node_cdata) &&
                     !strayText)
                strayText = child;
        }
        if (strayText) {
            code = kErrorTextOutsideRoot;
            reason = QStringLiteral("Text outside the document element");
            offset = startOf(strayText, utf8);
        } else if (elements == 0) {
            code = pugi::status_no_document_element;
            reason = QStringLiteral("No document element found");
            offset = 0;
        } else if (elements > 1) {
            code = kErrorSeveralRoots;
            reason = QStringLiteral("More than one document element");
            offset = startOf(secondRoot, utf8);
        }
    }
    FParseErrorCode = code;
    if (code != pugi::status_ok) {
        // A failed load leaves an empty document, never the part read before the fault.
        FParseErrorReason = positionOf(utf8, offset) + QStringLiteral(": ") + reason;
        FTree = std::make_shared<Tree>();
        return false;
    }
    FParseErrorReason.clear();
    FTree = std::move(tree);
    return true;
}

TXMLNode TXMLDocument::DocumentNode() const {
    TXMLNode node;
    node.FTree = FTree;
    node.FNode = FTree->document.internal_object();
    return node;
}

TXMLNode TXMLDocument::DocumentElement() const {
    TXMLNode node;
    const pugi::xml_node element = FTree->document.document_element();
    if (element) {
        node.FTree = FTree;
        node.FNode = element.internal_object();
    }
    return node;
}

TXMLNode TXMLDocument::SelectSingleNode(const QString& XPath) const {
    return DocumentNode().SelectSingleNode(XPath);
}

TXMLNode TXMLDocument::SelectSingleNode(const TXMLNode& Context, const QString& XPath) const {
    return Context.SelectSingleNode(XPath);
}

TXMLNodeList TXMLDocument::SelectNodes(const QString& XPath) const {
    return DocumentNode().SelectNodes(XPath);
}

TXMLNodeList TXMLDocument::SelectNodes(const TXMLNode& Context, const QString& XPath) const {
    return Context.SelectNodes(XPath);
}

// ---------------------------------------------------------------------------------------

std::unique_ptr<TXMLDocument> CreateXMLDocument() {
    return std::make_unique<TXMLDocument>();
}

QString GetNodeText(const TXMLNode& Node) {
    try {
        if (Node.FAttribute)
            return QString::fromUtf8(pugi::xml_attribute(Node.FAttribute).value());
        if (!Node.FNode)
            return {};
        pugi::xml_node node = nodeOf(Node.FNode);
        if (node.type() == pugi::node_pcdata || node.type() == pugi::node_cdata)
            return QString::fromUtf8(node.value());
        TextCollector collector;
        node.traverse(collector);
        return QString::fromUtf8(collector.text);
    } catch (...) {
        // Reading a text is never fatal to the caller: it reads as empty.
        return {};
    }
}

QString GetXPathText(const TXMLNode& Node, const QString& XPath) {
    const TXMLNode found = Node.SelectSingleNode(XPath);
    return found ? GetNodeText(found) : QString();
}

QString GetXPathText(const TXMLDocument& Document, const QString& XPath) {
    return GetXPathText(Document.DocumentNode(), XPath);
}

namespace {

// The first token of S, cut off it; the delimiter after the token stays, since in a
// date-time it may be the sign of the zone.
QString NextToken(QString& S, const QString& Delimiters) {
    QString token;
    ExtractToken(S, Delimiters, false, token);
    return token;
}

} // namespace

TDateTime ISO8601ToDateTime(const QString& Text) {
    if (Text.isEmpty())
        return 0;
    QString s = Text;
    QString datePart = NextToken(s, QStringLiteral("T "));
    QString timePart = NextToken(s, QStringLiteral("TZ+-"));
    const QString zonePart = s.toUpper();

    // An empty date part leaves a date that does not exist, and so a result of 0.
    int year = 0, month = 0, day = 0;
    if (!datePart.isEmpty()) {
        if (!TryStrToInt(NextToken(datePart, QStringLiteral("-")), year))
            return 0;
        if (!TryStrToInt(NextToken(datePart, QStringLiteral("-")), month))
            month = 1;
        if (!TryStrToInt(NextToken(datePart, QStringLiteral("-")), day))
            day = 1;
    }

    int hours = 0, minutes = 0, seconds = 0;
    if (!timePart.isEmpty()) {
        if (!TryStrToInt(NextToken(timePart, QStringLiteral(":")), hours))
            return 0;
        // Fractions of a second are not read, so "45.250" counts as 0 seconds.
        if (!TryStrToInt(NextToken(timePart, QStringLiteral(":")), minutes))
            minutes = 0;
        if (!TryStrToInt(NextToken(timePart, QStringLiteral(":")), seconds))
            seconds = 0;
    }

    double offsetHours = 0;
    if (!zonePart.isEmpty() && zonePart != QLatin1String("Z")) {
        QString zone = zonePart;
        int zoneHours = 0, zoneMinutes = 0;
        if (!TryStrToInt(NextToken(zone, QStringLiteral(":")), zoneHours) ||
            !TryStrToInt(NextToken(zone, QStringLiteral(":")), zoneMinutes))
            return 0;
        // "-05:30" is five and a half hours behind: the minutes carry the zone's sign.
        offsetHours = zonePart.startsWith(QLatin1Char('-')) ? zoneHours - zoneMinutes / 60.0
                                                            : zoneHours + zoneMinutes / 60.0;
    }

    const std::optional<TDateTime> date = EncodeDateTime(year, month, day);
    const std::optional<TDateTime> time = EncodeDateTime(1899, 12, 30, hours, minutes, seconds);
    if (!date || !time)
        return 0;
    const double utc = *date + *time - offsetHours / 24.0;
    return fromLinearDays(utc - currentBiasMinutes() / 60.0 / 24.0);
}
