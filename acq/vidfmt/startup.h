// Registration of the video-format library's error classes; the built-in
// formats are made here too, so that they exist before any look-up.
#pragma once

void ccAcqVidfmtStartup();
