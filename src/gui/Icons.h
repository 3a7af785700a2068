#pragma once

// The pictures of the tool buttons and windows, drawn by the program itself.

#include <QIcon>

namespace busweave::icons {

QIcon Open();
QIcon Save();
QIcon Exit();
QIcon ModifyNode();
QIcon ModifyWire();
QIcon DrawWire();
QIcon PlaceTermination();
QIcon PlaceDriver();
QIcon MoveNode();
QIcon Application();
QIcon Document();

}  // namespace busweave::icons
