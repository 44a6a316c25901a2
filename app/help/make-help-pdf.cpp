// Turns a help page (HTML) into the PDF the editor opens from its Help menu. Runs at build time.
//   make-help-pdf TamberloHelper_en.html TamberloHelper_en.pdf
//
// The PDF must read back as the page's text (searching and copying work), so besides laying the
// page out it: keeps every heading on the page of the text that follows it, and repairs the
// fonts' text maps where Qt names a glyph by a compatibility character (a radical for the
// ideograph that shares its glyph in the font, "ﬁ" for the letters f and i).
#include <QBuffer>
#include <QFile>
#include <QGuiApplication>
#include <QPageLayout>
#include <QPageSize>
#include <QPdfWriter>
#include <QRawFont>
#include <QRegularExpression>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextLayout>
#include <QAbstractTextDocumentLayout>

#include <cmath>
#include <cstdio>
#include <map>

namespace {

// The page a y position of the laid-out document falls on.
int pageAt(double y, double pageHeight) { return int(std::floor(y / pageHeight)); }

double firstLineTop(QTextDocument& document, const QTextBlock& block) {
    const QRectF box = document.documentLayout()->blockBoundingRect(block);
    const QTextLayout* layout = block.layout();
    return box.top() + (layout && layout->lineCount() > 0 ? layout->lineAt(0).y() : 0.0);
}

// Moves a heading that ends a page to the top of the next one, until none does.
void keepHeadingsWithTheirText(QTextDocument& document) {
    const double pageHeight = document.pageSize().height();
    for (bool moved = true; moved;) {
        moved = false;
        for (QTextBlock block = document.firstBlock(); block.isValid(); block = block.next()) {
            const QTextBlock next = block.next();
            if (block.blockFormat().headingLevel() == 0 || !next.isValid()) continue;
            const QRectF box = document.documentLayout()->blockBoundingRect(block);
            if (pageAt(box.top(), pageHeight) == pageAt(firstLineTop(document, next), pageHeight)) continue;
            if (block.blockFormat().pageBreakPolicy() & QTextFormat::PageBreak_AlwaysBefore) continue;
            QTextBlockFormat format;
            format.setPageBreakPolicy(QTextFormat::PageBreak_AlwaysBefore);
            QTextCursor(block).mergeBlockFormat(format);
            moved = true;
            break;  // the layout below has changed: look again from the start
        }
    }
}

// The fonts the document's text is set in.
QList<QRawFont> fontsOf(const QTextDocument& document) {
    QStringList families;
    for (QTextBlock block = document.firstBlock(); block.isValid(); block = block.next())
        for (auto it = block.begin(); !it.atEnd(); ++it)
            for (const QString& family : it.fragment().charFormat().fontFamilies().toStringList())
                if (!families.contains(family)) families << family;
    QList<QRawFont> fonts;
    for (const QString& family : families) {
        const QRawFont font = QRawFont::fromFont(QFont(family));
        if (font.isValid()) fonts << font;
    }
    return fonts;
}

// The ideograph that a radical shares its glyph with in one of the fonts (the radical itself when
// none does).
QString ideographOf(QChar radical, const QList<QRawFont>& fonts) {
    static std::map<ushort, QString> found;
    if (const auto it = found.find(radical.unicode()); it != found.end()) return it->second;
    QString result(radical);
    for (const QRawFont& font : fonts) {
        const auto glyph = font.glyphIndexesForString(QString(radical));
        if (glyph.isEmpty() || glyph[0] == 0) continue;
        for (const auto& [first, last] : {std::pair{0x4E00, 0x9FFF}, {0x3400, 0x4DBF}})
            for (int u = first; u <= last && result == radical; ++u)
                if (font.glyphIndexesForString(QString(QChar(ushort(u)))).value(0) == glyph[0]) result = QChar(ushort(u));
        if (result != radical) break;
    }
    found[radical.unicode()] = result;
    return result;
}

// The text a glyph stands for, with a compatibility character replaced by what it is read as.
QString readingOf(const QString& text, const QList<QRawFont>& fonts) {
    QString result;
    for (const QChar c : text) {
        const ushort u = c.unicode();
        if (u >= 0x2E80 && u <= 0x2FDF)
            result += ideographOf(c, fonts);
        else if (u >= 0xFB00 && u <= 0xFB06)
            result += QString(c).normalized(QString::NormalizationForm_KC);
        else
            result += c;
    }
    return result;
}

QByteArray hexOf(const QString& text) {
    QByteArray hex;
    for (const QChar c : text) hex += QByteArray::number(c.unicode(), 16).toUpper().rightJustified(4, '0');
    return hex;
}

QString textOfHex(const QByteArray& hex) {
    QString text;
    for (qsizetype i = 0; i + 4 <= hex.size(); i += 4) text += QChar(ushort(hex.mid(i, 4).toUInt(nullptr, 16)));
    return text;
}

// A ToUnicode map with every destination read as readingOf() says. Sources stay as they are: in
// "<src> <dst>" (bfchar) and "<lo> <hi> [<dst>…]" (bfrange) lines the destinations come after
// the sources; a "<lo> <hi> <dst>" range counts up from dst and is rewritten only for one glyph.
QByteArray repairedCMap(const QByteArray& cmap, const QList<QRawFont>& fonts) {
    static const QRegularExpression token("<([0-9A-Fa-f]+)>");
    QList<QByteArray> lines = cmap.split('\n');
    QByteArray section;
    for (QByteArray& line : lines) {
        const QByteArray trimmed = line.trimmed();
        if (trimmed.endsWith("beginbfchar") || trimmed.endsWith("beginbfrange")) {
            section = trimmed.endsWith("beginbfchar") ? "char" : "range";
            continue;
        }
        if (trimmed == "endbfchar" || trimmed == "endbfrange") {
            section.clear();
            continue;
        }
        if (section.isEmpty()) continue;
        const QString text = QString::fromLatin1(line);
        QList<QRegularExpressionMatch> tokens;
        for (auto it = token.globalMatch(text); it.hasNext();) tokens << it.next();
        const int sources = section == "char" ? 1 : 2;
        if (tokens.size() <= sources) continue;
        if (section == "range" && !line.contains('[') && tokens[0].captured(1) != tokens[1].captured(1)) continue;
        QString rewritten = text;
        for (qsizetype i = tokens.size() - 1; i >= sources; --i) {
            const QString destination = textOfHex(tokens[i].captured(1).toLatin1());
            const QString reading = readingOf(destination, fonts);
            if (reading == destination) continue;
            rewritten.replace(tokens[i].capturedStart(1), tokens[i].capturedLength(1), QString::fromLatin1(hexOf(reading)));
        }
        line = rewritten.toLatin1();
    }
    return lines.join('\n');
}

// The PDF with its ToUnicode maps repaired, the streams' lengths and the cross-reference table
// written anew (the objects move when a map grows).
QByteArray repairedText(const QByteArray& pdf, const QList<QRawFont>& fonts) {
    QByteArray out;
    qsizetype at = 0;
    for (;;) {
        const qsizetype cmap = pdf.indexOf("begincmap", at);
        if (cmap < 0) break;
        const qsizetype streamStart = pdf.lastIndexOf("stream\n", cmap) + 7;
        const qsizetype dictionary = pdf.lastIndexOf("<< /Length ", streamStart);
        const qsizetype streamEnd = pdf.indexOf("endstream", cmap);
        if (streamStart < 7 || dictionary < at || streamEnd < 0) break;
        static const QRegularExpression plainLength("^<< /Length \\d+ >>\\nstream\\n$");
        if (!plainLength.match(QString::fromLatin1(pdf.mid(dictionary, streamStart - dictionary))).hasMatch()) break;
        const QByteArray fixed = repairedCMap(pdf.mid(streamStart, streamEnd - streamStart), fonts);
        out += pdf.mid(at, dictionary - at);
        out += "<< /Length " + QByteArray::number(fixed.size()) + " >>\nstream\n" + fixed;
        at = streamEnd;
    }
    out += pdf.mid(at);

    // The objects' new offsets.
    const qsizetype xref = out.lastIndexOf("\nxref\n");
    const qsizetype trailer = out.indexOf("trailer", xref);
    if (xref < 0 || trailer < 0) return pdf;
    std::map<int, qsizetype> offsets;
    static const QRegularExpression object("\n(\\d+) 0 obj\\b");
    const QString head = QString::fromLatin1(out.left(xref + 1));
    for (auto it = object.globalMatch(head); it.hasNext();) {
        const auto match = it.next();
        offsets[match.captured(1).toInt()] = match.capturedStart(1);
    }
    const int size = offsets.empty() ? 1 : offsets.rbegin()->first + 1;
    QByteArray table = "xref\n0 " + QByteArray::number(size) + "\n0000000000 65535 f \n";
    for (int i = 1; i < size; ++i) {
        const auto found = offsets.find(i);
        table += found == offsets.end() ? QByteArray("0000000000 65535 f \n")
                                        : QByteArray::number(found->second).rightJustified(10, '0') + " 00000 n \n";
    }
    QByteArray trailerPart = out.mid(trailer);
    trailerPart = trailerPart.left(trailerPart.indexOf("startxref"));
    return out.left(xref + 1) + table + trailerPart + "startxref\n" + QByteArray::number(xref + 1) + "\n%%EOF\n";
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: make-help-pdf page.html document.pdf\n");
        return 2;
    }
    QGuiApplication app(argc, argv);
    QFile page(QString::fromLocal8Bit(argv[1]));
    if (!page.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "make-help-pdf: cannot read %s\n", argv[1]);
        return 1;
    }
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    QList<QRawFont> fonts;
    {
        QPdfWriter writer(&buffer);
        QTextDocument document;
        document.setHtml(QString::fromUtf8(page.readAll()));
        writer.setTitle(document.metaInformation(QTextDocument::DocumentTitle));
        writer.setCreator("Tamberlo");
        writer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF(20, 20, 20, 20),
                                         QPageLayout::Millimeter));
        // Laid out on the writer's pages (inside its margins), so the page breaks are known here.
        document.documentLayout()->setPaintDevice(&writer);
        QTextFrameFormat frame = document.rootFrame()->frameFormat();
        frame.setMargin(0);
        document.rootFrame()->setFrameFormat(frame);
        document.setPageSize(QSizeF(writer.width(), writer.height()));
        keepHeadingsWithTheirText(document);
        fonts = fontsOf(document);
        document.print(&writer);
    }
    QFile pdf(QString::fromLocal8Bit(argv[2]));
    if (!pdf.open(QIODevice::WriteOnly) || pdf.write(repairedText(buffer.data(), fonts)) < 0) {
        std::fprintf(stderr, "make-help-pdf: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
