;; A sample of Clojure, every line flush left.
(ns sample.core
(:require [clojure.string :as str]
[clojure.set :as set]))

(defn describe-it
"Print THING.
  This line of the docstring keeps its indentation."
[thing]
(let [open \(
items '(a b
c d)]
(println open thing)))

(defn classify [n]
(cond
(neg? n) :negative
(zero? n) :zero
:else :positive))

(defrecord Point [x y]
Object
(toString [_]
(str "(" x ", " y ")")))

(def config
{:name "sample"
:tags #{:a
:b}})

(when-let [x (first [1 2
3])]
(println x))

(defn unfinished [a
b]
(list a
