;;; A sample of ISLISP, every line flush left.
(defun describe-it (thing)
"Print THING.
  This line of the string keeps its indentation."
(dynamic-let ((*depth* 1)
(*open* #\())
#| A block comment
  spanning lines |#
(while (< *depth* 3)
(format (standard-output) "~A~%" '(a b
c d))
(setq *depth* (+ *depth* 1)))))

(defun unfinished (a
b)
(list a
