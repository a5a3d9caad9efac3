#include "player/zq_player_qmlpresentation.h"

ZQ_Player_qmlpresentation::ZQ_Player_qmlpresentation(QWidget* parent)
    : QWidget(parent)
{
}

ZQ_Player_qmlpresentation::~ZQ_Player_qmlpresentation() = default;
