// Turns a help page (HTML) into the PDF the editor opens from its Help menu. Runs at build time.
//   make-help-pdf TamberloHelper_en.html TamberloHelper_en.pdf
#include <QFile>
#include <QGuiApplication>
#include <QPageLayout>
#include <QPageSize>
#include <QPdfWriter>
#include <QTextDocument>

#include <cstdio>

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
    QTextDocument document;
    document.setHtml(QString::fromUtf8(page.readAll()));

    QPdfWriter writer(QString::fromLocal8Bit(argv[2]));
    writer.setTitle(document.metaInformation(QTextDocument::DocumentTitle));
    writer.setCreator("Tamberlo");
    writer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF(20, 20, 20, 20),
                                     QPageLayout::Millimeter));
    document.print(&writer);
    return 0;
}
