// The box that refuses a save under a name that exists: Save never overwrites.
#pragma once

#include <QWidget>

namespace tessarin {

// Shows the modal refusal, in the middle of the screen that holds `owner`.
void showrefusal(QWidget* owner);

}  // namespace tessarin
