# SPDX-License-Identifier: GPL-3.0-or-later
# The acceleration graph: the drawing core (no widgets needed to test it) and its widget.
fb_add_library(fb_net_histogram
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/HistogramRaster.cpp
    ${CMAKE_CURRENT_LIST_DIR}/HistogramPlan.cpp
    ${CMAKE_CURRENT_LIST_DIR}/HistogramCanvas.cpp
    ${CMAKE_CURRENT_LIST_DIR}/HistogramCore.cpp
    ${CMAKE_CURRENT_LIST_DIR}/HistogramCtrl.cpp
  LIBS Qt6::Gui Qt6::Widgets)

fb_add_benchmark(SOURCES ${CMAKE_CURRENT_LIST_DIR}/../bench/bench_histogram.cpp
                 LIBS fb_net_histogram)
