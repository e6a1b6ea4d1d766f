# The shell's chrome (title bar, startup picker, dialogs, help), for a build of
# these pieces on their own; the shell's own CMakeLists takes every file of
# src/app anyway.
set(TALLOWMARK_CHROME_SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/gtk_dialogs.cpp
    ${CMAKE_CURRENT_LIST_DIR}/help_actions.cpp
    ${CMAKE_CURRENT_LIST_DIR}/startup_picker.cpp
    ${CMAKE_CURRENT_LIST_DIR}/title_bar.cpp)
set(TALLOWMARK_CHROME_MODEL_SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/model/picker_model.cpp
    ${CMAKE_CURRENT_LIST_DIR}/model/title_bar_state.cpp)
