#include "app/AppState.h"

#include <QByteArray>

#include <algorithm>
#include <cstring>

void TAppState::SetComment(const QByteArray &text)
{
    Comment.fill('\0');
    const auto n = std::min<std::size_t>(static_cast<std::size_t>(text.size()), Comment.size() - 1);
    std::memcpy(Comment.data(), text.constData(), n);
}

QByteArray TAppState::CommentText() const { return QByteArray(Comment.data()); }
