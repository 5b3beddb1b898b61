#pragma once

#include <cstdint>
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
  // Text.GetText clamps the end offset into the text, so the usual "to the end" (-1) answers
  // nothing: the whole text is asked up to INT32_MAX instead (GTK 4). Only for toolkits seen to
  // clamp; others may read past the end for an end beyond the text.
  bool textEndClamped = false;
  // Text selections are made by adding: Text.SetSelection collapses a text view's selection to
  // its end, and Text.AddSelection of a text view sets the selection but never answers (GTK 4.8;
  // later versions answer an int). The caret goes to the selection's start first (which drops
  // any selection), then AddSelection is sent expecting no answer; reading the selection back
  // tells whether it took.
  bool selectsByAdding = false;
  // Synthetic core wheel presses (buttons 4 to 7) are ignored once the X server has XInput
  // 2.1: the toolkit takes scrolling from XI2 scroll valuators only, which SendEvent cannot
  // carry (Qt 5's xcb plugin). Not about the bridge, but known from its ToolkitName.
  bool ignoresSyntheticWheel = false;
};

// The end offset that asks Text.GetText for the whole text under these traits.
int32_t wholeTextEnd(const ToolkitTraits& traits);

// The traits of the toolkit an application names (org.a11y.atspi.Application ToolkitName and
// Version); unknown names give the defaults.
ToolkitTraits toolkitTraits(std::string_view toolkitName, std::string_view version);

}  // namespace tavren::atspi
