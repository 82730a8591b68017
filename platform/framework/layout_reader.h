#pragma once

#include <string>

#include "platform/framework/exception.h"

class TComponent;

// A layout that cannot be read; the message names the line.
class ELayoutError : public Exception {
 public:
  using Exception::Exception;
};

// Reads a layout into root, whose class must be the class of the layout's
// outer object:
//
//   object Form1: TForm1
//     Caption = 'Title'
//     object Label1: TLabel
//       Left = 10
//       Font.Style = [fsBold]
//     end
//     object Bar1: TStatusBar
//       Panels = <
//         item
//           Text = 'One'
//         end>
//     end
//   end
//
// Every inner object is created with root as owner, and its assignments are
// applied in written order; references to other components are resolved once
// all exist; then Loaded is called on root and every created component, in
// creation order. Events name handlers that root publishes. A collection's
// written items replace the items it held.
void ReadLayout(TComponent& root, const std::string& text);
