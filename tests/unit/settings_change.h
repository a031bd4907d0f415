#pragma once
// Changes one setting of an environment the way the settings dialog does:
// a copy of the settings in force, changed, handed back.
#include "environment/environment.h"

namespace velmora::testing {

template <class T, class V>
void set_setting(environment::Environment &env, T environment::Settings::*field, V &&value) {
  environment::Settings s = env.settings();
  s.*field = std::forward<V>(value);
  env.setSettings(s);
}

}  // namespace velmora::testing
