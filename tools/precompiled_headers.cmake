# Precompiled headers: the Qt and standard headers most sources include, parsed once for every target that
# can share them instead of once per source. GCC takes a precompiled header only where every macro defined
# when it was made is defined the same way (-Winvalid-pch says when not, and fails the Windows build, which
# turns warnings into errors), so each is made by a target of its own with the fewest definitions:
#   core     Qt Core (mb_pch_core), for every library, program, test and benchmark;
#   widgets  Qt Core, Gui and Widgets (mb_pch_widgets), for those that link Widgets;
#   fuzz     Qt Core with the replays' bounds checks and sanitizers (tests/fuzz; the first replay makes it).
# Qt Test's own headers stay out: they depend on each folder's QT_TESTCASE_BUILDDIR and QT_TESTCASE_SOURCEDIR,
# so a header with them would be one per test folder, and making one costs more than a folder's tests save.
# Programs built as Windows GUI programs get none (their QT_NEEDS_QMAIN changes Qt Gui's headers).
# -DMB_PRECOMPILED_HEADERS=OFF builds without any.
option(MB_PRECOMPILED_HEADERS "Precompile the Qt headers most sources include" ON)

set(MB_PCH_CORE_HEADERS
  <array> <chrono> <cstdint> <functional> <memory> <optional> <string> <utility> <vector>
  <QByteArray> <QCoreApplication> <QDateTime> <QDir> <QElapsedTimer> <QFile> <QFileInfo> <QHash> <QJsonArray>
  <QJsonDocument> <QJsonObject> <QList> <QMap> <QMutex> <QProcess> <QRegularExpression> <QSettings> <QString>
  <QStringList> <QThread> <QVariant>)
set(MB_PCH_WIDGETS_HEADERS ${MB_PCH_CORE_HEADERS}
  <QApplication> <QCheckBox> <QColor> <QComboBox> <QImage> <QLabel> <QPainter> <QPalette> <QPushButton> <QStyle>
  <QWidget>)

if(MB_PRECOMPILED_HEADERS)
  add_library(mb_pch_core OBJECT ${CMAKE_CURRENT_LIST_DIR}/precompiled_headers.cpp)
  target_link_libraries(mb_pch_core PRIVATE Qt6::Core)
  target_precompile_headers(mb_pch_core PRIVATE ${MB_PCH_CORE_HEADERS})
  add_library(mb_pch_widgets OBJECT ${CMAKE_CURRENT_LIST_DIR}/precompiled_headers.cpp)
  target_link_libraries(mb_pch_widgets PRIVATE Qt6::Widgets)
  target_precompile_headers(mb_pch_widgets PRIVATE ${MB_PCH_WIDGETS_HEADERS})
  set_property(GLOBAL PROPERTY MB_PCH_MAKER_core mb_pch_core)
  set_property(GLOBAL PROPERTY MB_PCH_MAKER_widgets mb_pch_widgets)
endif()

# mb_precompiled_headers(KIND TARGET...): the targets reuse the kind's header (the first of kind fuzz makes it).
function(mb_precompiled_headers kind)
  if(NOT MB_PRECOMPILED_HEADERS)
    return()
  endif()
  if(kind STREQUAL "core" OR kind STREQUAL "fuzz")
    set(headers ${MB_PCH_CORE_HEADERS})
  elseif(kind STREQUAL "widgets")
    set(headers ${MB_PCH_WIDGETS_HEADERS})
  else()
    message(FATAL_ERROR "mb_precompiled_headers: no kind ${kind}")
  endif()
  foreach(target ${ARGN})
    get_property(maker GLOBAL PROPERTY MB_PCH_MAKER_${kind})
    if(maker)
      target_precompile_headers(${target} REUSE_FROM ${maker})
    else()
      target_precompile_headers(${target} PRIVATE ${headers})
      set_property(GLOBAL PROPERTY MB_PCH_MAKER_${kind} ${target})
    endif()
  endforeach()
endfunction()
