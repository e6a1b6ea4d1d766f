// A one-line field over the script: Return keeps what was typed, Escape drops
// it; neither goes on to be GO or the leaving of a mode.
export function keepOrDrop(finish: (text: string | null) => void): (e: KeyboardEvent) => void {
  return (e) => {
    if (e.key === 'Enter') {
      e.preventDefault();
      finish((e.target as HTMLInputElement).value);
    } else if (e.key === 'Escape') {
      e.preventDefault();
      finish(null);
    }
  };
}
