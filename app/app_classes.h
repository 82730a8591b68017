#pragma once

// Registers everything the program's layouts name: the standard controls, the
// audio components and the names of colours and device identifiers.
void RegisterAppClasses();
