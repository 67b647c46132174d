# The artwork (icon list, toolbar glyphs, program icon) compiled into qv_gui,
# so every program that links the library finds it under ":/icons" and ":/glyphs".
set(QV_ARTWORK ${QV_ICON_FILES})
foreach(glyph
    about
    capitalise
    collapse
    collapseAll
    copy
    create
    createChild
    cut
    delete
    erase
    expand
    expandAll
    lower
    moveDown
    moveUp
    paste
    program
    redo
    save
    settings
    undo
    upper)
  list(APPEND QV_ARTWORK ${CMAKE_CURRENT_LIST_DIR}/glyphs/${glyph}.png)
endforeach()
qt_add_resources(qv_gui "artwork"
  PREFIX "/"
  BASE ${CMAKE_CURRENT_LIST_DIR}
  FILES ${QV_ARTWORK}
  OUTPUT_TARGETS qv_artwork_targets)
# The application icon at every size it is installed in, so the window's
# icon is drawn from the size nearest to what the desktop asks for.
set(QV_PROGRAM_ICONS)
foreach(size 16 22 24 32 48 64 128 256)
  list(APPEND QV_PROGRAM_ICONS ${CMAKE_SOURCE_DIR}/packaging/icons/org.quorvel.Quorvel-${size}.png)
endforeach()
qt_add_resources(qv_gui "programicon"
  PREFIX "/program"
  BASE ${CMAKE_SOURCE_DIR}/packaging/icons
  FILES ${QV_PROGRAM_ICONS}
  OUTPUT_TARGETS qv_program_icon_targets)
list(APPEND qv_artwork_targets ${qv_program_icon_targets})
# A static library's resources come as an object library of their own.
foreach(t ${qv_artwork_targets})
  quorvel_target_options(${t})
endforeach()
