# Precompiled headers: the Qt and standard headers most sources include, parsed once for every target that
# can share them instead of once per source. GCC takes a precompiled header only where each macro the headers
# test is defined as it was when the header was made (-Winvalid-pch says when not, and fails the Windows
# build, which turns warnings into errors), hence one header per kind:
#   core     Qt Core, for the libraries and programs without Qt Gui (made by the first, mb_link);
#   widgets  Qt Core, Gui and Widgets, for the libraries that link Widgets (made by mb_ui);
#   fuzz     Qt Core with the replays' bounds checks and sanitizers (tests/fuzz).
# The tests take core or widgets too. Qt Test's own headers stay out: they test the folder's
# QT_TESTCASE_BUILDDIR and QT_TESTCASE_SOURCEDIR, so a header with them would be one per test folder, and
# making one costs more than the few tests of a folder save by it.
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

# mb_precompiled_headers(KIND TARGET...): the first target of a kind makes the header, the others reuse it.
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
