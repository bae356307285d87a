#include "chat/history_text.h"

#include "chat/body_markup.h"

#include <QStringDecoder>

#include <algorithm>
#include <new>

namespace velmoran {

const QString& NamePool::intern(std::string_view utf8)
{
    auto found = m_names.find(utf8);
    if (found == m_names.end())
        found =
            m_names
                .emplace(std::string(utf8), QString::fromUtf8(utf8.data(), qsizetype(utf8.size())))
                .first;
    return found->second;
}

QString TextArena::add(std::string_view utf8)
{
    // An empty text owns nothing: the same empty QString QString::fromUtf8 gives.
    if (utf8.empty())
        return QString::fromUtf8(utf8.data(), 0);
    // UTF-16 never needs more units than UTF-8 has bytes; one more for the null.
    const auto most = qsizetype(utf8.size()) + 1;
    if (!m_block.d_ptr() || m_block.constAllocatedCapacity() - m_used < most) {
        // Blocks grow from small (a history of a few messages) to 1 MiB; a longer text gets a
        // block of its own size.
        const qsizetype units = std::max(most, m_nextBlockUnits);
        m_nextBlockUnits = std::min<qsizetype>(m_nextBlockUnits * 2, qsizetype(1) << 19);
        auto [header, data] = QTypedArrayData<char16_t>::allocate(units);
        if (!header)
            throw std::bad_alloc();
        m_block = QString::DataPointer(header, data, 0);
        m_used = 0;
    }
    char16_t* const start = m_block.data() + m_used;
    // Stateless: each text is converted on its own, as fromUtf8 converts it, never continuing
    // a sequence the previous text left open.
    QStringDecoder decoder(QStringDecoder::Utf8, QStringConverter::Flag::Stateless);
    QChar* const end = decoder.appendToBuffer(reinterpret_cast<QChar*>(start),
                                              QByteArrayView(utf8.data(), qsizetype(utf8.size())));
    const auto length = qsizetype(reinterpret_cast<char16_t*>(end) - start);
    start[length] = u'\0';
    m_used += length + 1;
    m_block.d_ptr()->ref();
    return QString(QString::DataPointer(m_block.d_ptr(), start, length));
}

TextArena::Mark TextArena::mark()
{
    if (!m_block.d_ptr())
        return {};
    return {m_block.d_ptr(), m_used, m_block.d_ptr()->ref_.loadRelaxed()};
}

void TextArena::takeBack(const Mark& mark)
{
    // The block counts one holder for the arena and one for every text in it: back at the
    // count of the mark, no text added since is held.
    if (mark.block && mark.block == m_block.d_ptr()
        && m_block.d_ptr()->ref_.loadRelaxed() == mark.holders)
        m_used = mark.used;
}

std::string_view plainText(std::string_view markup, std::string& scratch)
{
    if (!mayHoldMarkup(markup))
        return markup;
    scratch.clear();
    appendPlainText(markup, scratch);
    return scratch;
}

QString plainBody(std::string_view markup, std::string& scratch, TextArena& arena)
{
    return arena.add(plainText(markup, scratch));
}

} // namespace velmoran
