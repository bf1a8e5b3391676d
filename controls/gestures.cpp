#include "controls/gestures.h"

#include <cstdlib>
#include <vector>

namespace lumeval {

void GestureRecognizer::Start(QPoint where) {
    m_active = true;
    m_sample = where;
    m_tokens.clear();
}

bool GestureRecognizer::Move(QPoint where) {
    if (!m_active) return false;
    const QString token = Token(where.x() - m_sample.x(), where.y() - m_sample.y());
    if (token.isEmpty()) return false;
    m_tokens.append(token);
    m_sample = where;
    return true;
}

int GestureRecognizer::End(QPoint where) {
    const int code = Code();
    m_tokens.clear();
    m_sample = where;
    m_active = false;
    return code;
}

QString GestureRecognizer::Token(int dx, int dy) {
    if (std::abs(dx) < 10 && std::abs(dy) < 10) return QString();
    if (std::abs(dx) <= 3) return dy > 0 ? QStringLiteral("0D") : QStringLiteral("0U");
    const QChar horizontal = dx > 0 ? QLatin1Char('R') : QLatin1Char('L');
    if (std::abs(dy) <= 3) return QString(horizontal) + QLatin1Char('0');
    return QString(horizontal) + (dy > 0 ? QLatin1Char('D') : QLatin1Char('U'));
}

QString GestureRecognizer::Summary(const QStringList& tokens) {
    const qsizetype n = tokens.size();
    if (n == 0) return QString();
    const qsizetype k = n / 5 + 1;
    QString summary;
    for (qsizetype position : {qsizetype{1}, k, 2 * k, 3 * k, n}) {
        if (position <= n) summary += tokens[position - 1];
    }
    return summary;
}

bool GestureRecognizer::Like(const QString& text, const QString& pattern) {
    // Classic wildcard matching with one backtrack point per '*'.
    qsizetype t = 0, p = 0, star = -1, resume = 0;
    while (t < text.size()) {
        if (p < pattern.size() && pattern[p] == QLatin1Char('*')) {
            star = p++;
            resume = t;
        } else if (p < pattern.size() && pattern[p] == text[t]) {
            ++p;
            ++t;
        } else if (star >= 0) {
            p = star + 1;
            t = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == QLatin1Char('*')) ++p;
    return p == pattern.size();
}

int GestureRecognizer::CodeOf(const QString& s) {
    if (Like(s, QStringLiteral("LDLD*RD")) || Like(s, QStringLiteral("RDRD*LD"))) return 10;
    if (Like(s, QStringLiteral("*RDRU*")) || Like(s, QStringLiteral("*RDR0RU*"))) return 9;
    if (Like(s, QStringLiteral("R*U*L*D"))) return 11;
    static const char* const kRuns[] = {"L0L0L0", "R0R0R0", "0U0U0U", "0D0D0D",
                                        "LULULU", "LDLDLD", "RURURU", "RDRDRD"};
    for (int i = 0; i < 8; ++i) {
        if (s.contains(QLatin1String(kRuns[i]))) return i + 1;
    }
    return 0;
}

}  // namespace lumeval
