// Mouse-gesture recogniser: the pointer's path, cut into two-letter direction
// tokens, summarised by five samples and matched against a table of shapes.
// Pure logic; the framework feeds it pointer positions and draws the trail.
#pragma once

#include <QPoint>
#include <QString>
#include <QStringList>

namespace lumeval {

class GestureRecognizer {
  public:
    /// Starts a gesture at `where`: empties the tokens and the summary.
    void Start(QPoint where);
    /// Records a token when the pointer moved at least 10 pixels along either
    /// axis since the last sample; true when one was recorded.
    bool Move(QPoint where);
    /// Ends the gesture: the summary and code are computed, then the tokens are
    /// emptied and the sample point becomes `where`. Returns the code.
    int End(QPoint where);

    bool Active() const { return m_active; }
    QPoint SamplePoint() const { return m_sample; }
    const QStringList& Tokens() const { return m_tokens; }
    /// The five-sample summary of the current tokens.
    QString GestureString() const { return Summary(m_tokens); }
    /// The code of the current tokens.
    int Code() const { return CodeOf(Summary(m_tokens)); }

    /// Token of one move (dx, dy); screen y grows downwards. Empty when the
    /// move is shorter than 10 pixels on both axes.
    static QString Token(int dx, int dy);
    /// Tokens at positions 1, k, 2k, 3k and n (k = n / 5 + 1), joined.
    static QString Summary(const QStringList& tokens);
    /// Code 0..11 of a summary by the shape table.
    static int CodeOf(const QString& gestureString);
    /// Pattern match where '*' stands for any run of characters.
    static bool Like(const QString& text, const QString& pattern);

  private:
    bool m_active = false;
    QPoint m_sample;
    QStringList m_tokens;
};

}  // namespace lumeval
