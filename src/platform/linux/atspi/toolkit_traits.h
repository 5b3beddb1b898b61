#pragma once

#include <string_view>

namespace tavren::atspi {

// What an application's accessibility bridge can take and how it answers, by toolkit. The
// default is the call shape every bridge answers: an unknown toolkit is never sent a call that
// a known one is seen to mishandle.
struct ToolkitTraits {
  // org.freedesktop.DBus.Properties.GetAll answered. Qt 5 takes every Properties call as
  // Get/Set with two arguments and reads past the one GetAll has: the application crashes.
  bool answersGetAll = false;
  // GetExtents in screen coordinates answers as if the window were at the screen's origin:
  // read window coordinates and add the window's origin (GTK 4).
  bool windowRelativeExtents = false;
  // org.a11y.atspi.Collection.GetTree answered (at-spi2-core's ATK bridge, absent from its
  // interface description): a whole subtree with the properties named, in one call.
  bool treeInOneCall = false;
};

// The traits of the toolkit an application names (org.a11y.atspi.Application ToolkitName and
// Version); unknown names give the defaults.
ToolkitTraits toolkitTraits(std::string_view toolkitName, std::string_view version);

}  // namespace tavren::atspi
