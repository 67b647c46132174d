// The editor's text as a record holds it (Windows-1251, line breaks as "~~"),
// kept up to date change by change so a keystroke in a long note costs no
// conversion of the whole text.
#pragma once

#include "catalog/Text.h"

#include <QObject>

class QTextDocument;

namespace qv {

class RecordMirror : public QObject {
    Q_OBJECT
public:
    explicit RecordMirror(QTextDocument *document, QObject *parent = nullptr);

    // The whole text in record form.
    const qv::Bytes &bytes() const { return bytes_; }
    // Converts the whole document again (what every patch must agree with).
    static qv::Bytes convert(const QTextDocument &document);
    // How many changes were patched in place and how many needed a rebuild.
    size_t patches() const { return patches_; }
    size_t rebuilds() const { return rebuilds_; }

private:
    void contentsChange(int position, int removed, int added);
    void rebuild();
    // Record form of document positions [from, to).
    qv::Bytes convertRange(int from, int to) const;

    QTextDocument *document_;
    qv::Bytes bytes_;
    int blocks_ = 1;
    size_t patches_ = 0;
    size_t rebuilds_ = 0;
};

} // namespace qv
