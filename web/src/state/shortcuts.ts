// The keys the Keyboard Shortcuts sheet lists: the window's menu keys, then
// the page's own keys (keys.ts), in the order an operator looks for them.

export const shortcutGroups: { title: string; rows: [string, string][] }[] = [
  {
    title: 'Running the show',
    rows: [
      ['Return or Space', 'GO (not while a text field has the focus)'],
      ['Tab, then Space', 'Press the button or tick the box reached with Tab (Return stays GO)'],
      ['Backspace', 'Back (same condition)'],
      [']', 'Next Cue: standby moves on without firing'],
      ['[', 'Previous Cue: standby moves back without firing'],
      ['Ctrl+Shift+R', 'Reset Standby (twice to confirm)'],
      ['Escape', 'Close the sheet or leave the mode'],
    ],
  },
  {
    title: 'Moving in the script',
    rows: [
      ['Page Down, Right', 'Next page'],
      ['Page Up, Left', 'Previous page'],
      ['Up / Down', 'Scroll'],
      ['Ctrl+G', 'Go to Page…'],
      ['Ctrl+F', 'Find… (Return and Shift+Return step through the hits)'],
    ],
  },
  {
    title: 'View',
    rows: [
      ['Ctrl+1 / Ctrl+2', 'One Page / Two Pages'],
      ['Ctrl+Plus or Ctrl+= / Ctrl+-', 'Zoom In / Zoom Out'],
      ['Ctrl+0', 'Fit to Window'],
      ['Ctrl+Alt+0', 'Maximize Text: the script and the show panel only (again: back)'],
      ['Ctrl+Shift+N', 'Drop Page Numbers'],
      ['Ctrl+Shift+C', 'Crop: drag a frame (arrows move it, Shift+arrows size it), Return applies'],
      ['Ctrl+Shift+P', "Page: the shown page's note and its number"],
      ['F9', 'Show Sidebar'],
      ['Ctrl+Shift+D', 'Dim Screen'],
      ['Ctrl+Shift+M', 'Confidence Monitor (open or close)'],
      ['F11', 'Enter or leave full screen'],
    ],
  },
  {
    title: 'Cues',
    rows: [
      ['Ctrl+E', 'Cue Mode'],
      ['N or Insert', 'Show the line cursor; again: place a cue on its line, type the label, Return (Cue Mode)'],
      ['Up / Down, K / J', 'Move the line cursor a line, across pages'],
      ['Home / End', "Line cursor to the page's first / last line"],
      ['. / ,', 'Select the next / previous cue (Cue Mode)'],
      ['I', 'Insert Line: below the line cursor, else click where it goes; type, Return (Cue Mode)'],
      ['Shift+Return', 'A second row of an inserted line'],
      ['Shift+I', 'Select the next inserted line (Cue Mode)'],
      ['F2 / Delete', 'Edit / remove the selected inserted line (its cues go with it)'],
      ['Alt+arrows', 'Move the selected cue a little (Shift+Alt+arrows: more)'],
      ['F2 or Ctrl+Return', "Edit the selected cue's label"],
      ['Delete', 'Delete the selected cue'],
      ['Ctrl+I', 'Cue Settings…'],
      ['Ctrl+D', 'Duplicate Cue'],
      ['Ctrl+Z / Ctrl+Shift+Z', 'Undo / Redo'],
    ],
  },
  {
    title: 'Marks, memos and flags (Cue Mode)',
    rows: [
      ['1 to 6', 'Highlight, Region, Cut, Hide, Memo, Flag tool (the same key again puts it down)'],
      ['Escape', 'Let go of the selection, then put the tool down'],
      ['C', 'Next colour of the selection, or of the tool'],
      ['Alt+arrows', 'Move the selected mark, memo or flag a little (Shift+Alt+arrows: more)'],
      ['Delete', 'Delete the selected mark, memo or flag'],
      ['F2', "Edit the selected memo's, flag's or region's text"],
      ['Ctrl+Return', "Keep a memo's text (Return starts a new line, Escape drops the change)"],
    ],
  },
  {
    title: 'Files and window',
    rows: [
      ['Ctrl+O', 'Open Script…'],
      ['Ctrl+W', 'Close Script'],
      ['Ctrl+S / Ctrl+Shift+S', 'Save / Save Script As…'],
      ['Ctrl+Shift+E', 'Export Marked Script…'],
      ['Ctrl+,', 'Settings'],
      ['Ctrl+X, Ctrl+C, Ctrl+V, Ctrl+A', "Cut, Copy, Paste, Select All in the page's text fields"],
      ['Ctrl+M', 'Minimize'],
      ['Ctrl+Shift+W', 'Close Window'],
      ['Ctrl+Q', 'Quit'],
    ],
  },
];
