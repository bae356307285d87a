#include "search/search_pattern.h"

// QString's code units: the 16-bit library, so fields are matched in place.
#define PCRE2_CODE_UNIT_WIDTH 16
#include <pcre2.h>

#include <algorithm>
#include <iterator>
#include <memory>
#include <new>
#include <vector>

namespace velmoran {

namespace {

template <auto Free> struct Freeing {
    template <typename T> void operator()(T* object) const { Free(object); }
};
using Code = std::unique_ptr<pcre2_code, Freeing<pcre2_code_free>>;
using MatchData = std::unique_ptr<pcre2_match_data, Freeing<pcre2_match_data_free>>;
using MatchContext = std::unique_ptr<pcre2_match_context, Freeing<pcre2_match_context_free>>;
using JitStack = std::unique_ptr<pcre2_jit_stack, Freeing<pcre2_jit_stack_free>>;

// The first try runs with the library's limits and the JIT stack QRegularExpression gave it,
// so every field it settles is settled as before. The second try, for one field that hit a
// limit: ten times the match limit (an expression that backtracks without end then gives up
// after about a second without JIT, a fifth of that with it), a JIT stack that holds a
// repeated group over some 30 million characters (an address range, used only as far as the
// match goes and given back after the try), and for the interpreter, used only where there is
// no JIT, a depth to match and a heap of at most 4 GiB. The interpreter is not tried after
// JIT code: it needs ten times the memory for the same depth.
constexpr PCRE2_SIZE FirstJitStack = 512 * 1024;
constexpr uint32_t RoomyMatchLimit = 100'000'000;
constexpr PCRE2_SIZE RoomyJitStack = PCRE2_SIZE(1) << 30;
constexpr uint32_t RoomyHeapKiB = 4 * 1024 * 1024;
constexpr PCRE2_SIZE JitStackStart = 32 * 1024;

QString libraryMessage(int code)
{
    PCRE2_UCHAR buffer[256];
    const int length = pcre2_get_error_message(code, buffer, std::size(buffer));
    return length < 0 ? QStringLiteral("error %1").arg(code)
                      : QString::fromUtf16(reinterpret_cast<const char16_t*>(buffer), length);
}

} // namespace

struct SearchPattern::Expressions {
    struct Compiled {
        Code code;
        bool jit = false;
    };
    Compiled exact;
    Compiled caseless;
    QString errorText;
    qsizetype errorOffset = -1;
    // Reused for every field: the search runs on one thread.
    MatchData matchData{pcre2_match_data_create(1, nullptr)};
    MatchContext context{pcre2_match_context_create(nullptr)};
    JitStack jitStack{pcre2_jit_stack_create(JitStackStart, FirstJitStack, nullptr)};

    Compiled compile(const QString& expression, uint32_t options)
    {
        Compiled compiled;
        int error = 0;
        PCRE2_SIZE offset = 0;
        compiled.code.reset(pcre2_compile(
            reinterpret_cast<PCRE2_SPTR>(expression.utf16()), PCRE2_SIZE(expression.size()),
            options | PCRE2_UTF | PCRE2_MATCH_INVALID_UTF, &error, &offset, nullptr));
        if (!compiled.code) {
            if (errorText.isEmpty()) {
                errorText = libraryMessage(error);
                errorOffset = qsizetype(offset);
            }
            return compiled;
        }
        // Compiled now rather than at the first field tested.
        compiled.jit = pcre2_jit_compile(compiled.code.get(), PCRE2_JIT_COMPLETE) == 0;
        return compiled;
    }

    // pcre2_match()'s answer for the whole field: a match, PCRE2_ERROR_NOMATCH or an error.
    int match(const Compiled& compiled, QStringView field) const
    {
        const auto subject = reinterpret_cast<PCRE2_SPTR>(field.utf16());
        const auto length = PCRE2_SIZE(field.size());
        const int first =
            pcre2_match(compiled.code.get(), subject, length, 0, 0, matchData.get(), context.get());
        if (first >= 0 || first == PCRE2_ERROR_NOMATCH)
            return first;
        MatchContext roomy{pcre2_match_context_create(nullptr)};
        if (!roomy)
            return PCRE2_ERROR_NOMEMORY;
        pcre2_set_match_limit(roomy.get(), RoomyMatchLimit);
        pcre2_set_depth_limit(roomy.get(), RoomyMatchLimit);
        pcre2_set_heap_limit(roomy.get(), RoomyHeapKiB);
        JitStack stack;
        if (compiled.jit)
            stack.reset(pcre2_jit_stack_create(JitStackStart, RoomyJitStack, nullptr));
        if (stack)
            pcre2_jit_stack_assign(roomy.get(), nullptr, stack.get());
        return pcre2_match(compiled.code.get(), subject, length, 0, stack ? 0 : PCRE2_NO_JIT,
                           matchData.get(), roomy.get());
    }
};

SearchPattern::SearchPattern(const QString& text)
{
    setText(text);
}

SearchPattern SearchPattern::regularExpression(const QString& expression)
{
    SearchPattern pattern(expression);
    auto expressions = std::make_shared<Expressions>();
    if (!expressions->matchData || !expressions->context)
        throw std::bad_alloc();
    expressions->exact = expressions->compile(expression, 0);
    expressions->caseless = expressions->compile(expression, PCRE2_CASELESS);
    if (expressions->jitStack)
        pcre2_jit_stack_assign(expressions->context.get(), nullptr, expressions->jitStack.get());
    pattern.m_expressions = std::move(expressions);
    return pattern;
}

bool SearchPattern::isValid() const
{
    return !m_expressions || m_expressions->exact.code;
}

QString SearchPattern::errorText() const
{
    return m_expressions ? m_expressions->errorText : QString();
}

qsizetype SearchPattern::errorOffset() const
{
    return m_expressions ? m_expressions->errorOffset : -1;
}

bool SearchPattern::expressionMatches(QStringView field, Qt::CaseSensitivity cs) const
{
    const Expressions::Compiled& compiled =
        cs == Qt::CaseSensitive ? m_expressions->exact : m_expressions->caseless;
    if (!compiled.code)
        return false;
    const int result = m_expressions->match(compiled, field);
    if (result == PCRE2_ERROR_NOMATCH)
        return false;
    // 0: a match, with more groups than the match data has room for.
    if (result >= 0)
        return true;
    throw PatternMatchFailure(libraryMessage(result)
                              + QStringLiteral(", even on a second try with more room"));
}

void SearchPattern::setText(const QString& text)
{
    m_text = text;
    m_expressions.reset();
    m_exact = QStringMatcher(text, Qt::CaseSensitive);
    m_caseless = QStringMatcher(text, Qt::CaseInsensitive);
    m_utf8.clear();
    m_foldedAscii.clear();
    // Bytes stand for characters one to one only where the text is whole UTF-8 and has no
    // U+FFFD, which bytes that are no UTF-8 become.
    const QByteArray utf8 = text.toUtf8();
    if (text.isEmpty() || QString::fromUtf8(utf8) != text
        || text.contains(QChar::ReplacementCharacter))
        return;
    m_utf8 = utf8.toStdString();
    const QString folded = text.toCaseFolded();
    if (folded.size() == text.size()
        && std::all_of(folded.begin(), folded.end(), [](QChar c) { return c.unicode() < 0x80; }))
        m_foldedAscii = folded.toLatin1().toStdString();
}

namespace {

// The UTF-8 of every character outside ASCII whose case folding is ASCII (the Kelvin sign,
// the long s). Characters beyond the basic plane fold within their planes.
const std::vector<std::string>& foldingToAscii()
{
    static const std::vector<std::string> sequences = [] {
        std::vector<std::string> found;
        for (char32_t c = 0x80; c <= 0xFFFF; ++c) {
            if (c >= 0xD800 && c <= 0xDFFF)
                continue;
            if (QChar::toCaseFolded(c) < 0x80)
                found.push_back(QString::fromUcs4(&c, 1).toUtf8().toStdString());
        }
        return found;
    }();
    return sequences;
}

} // namespace

bool SearchPattern::mayMatchUtf8(std::string_view utf8, Qt::CaseSensitivity cs) const
{
    // An empty field matches nothing.
    if (utf8.empty())
        return false;
    if (m_expressions || m_utf8.empty())
        return true;
    if (cs == Qt::CaseSensitive)
        return utf8.find(m_utf8) != std::string_view::npos;
    if (m_foldedAscii.empty())
        return true;
    // A match of a text that folds to ASCII is made of characters that fold to ASCII: ASCII
    // itself, found in the bytes folded the same way, or one of the few others.
    for (const std::string& other : foldingToAscii()) {
        if (utf8.find(other) != std::string_view::npos)
            return true;
    }
    thread_local std::string lowered;
    lowered.resize(utf8.size());
    std::transform(utf8.begin(), utf8.end(), lowered.begin(),
                   [](char c) { return c >= 'A' && c <= 'Z' ? char(c | 0x20) : c; });
    return lowered.find(m_foldedAscii) != std::string::npos;
}

} // namespace velmoran
