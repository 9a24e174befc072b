// About page: versions, logo and links; it holds no settings.
#pragma once

namespace veltra::ui {

struct AboutPage {};

}  // namespace veltra::ui
